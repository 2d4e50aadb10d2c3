// The shell's standard streams on POSIX systems: bytes written and read unchanged.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {

using detail::last_error;
using detail::write_fd;

bool write_stdout(std::string_view bytes) {
    std::fflush(stdout);
    auto written = write_fd(STDOUT_FILENO, bytes);
    return written || written.error().code != EPIPE;
}

void write_stderr(std::string_view bytes) {
    (void)write_fd(STDERR_FILENO, bytes);
}

bool stdin_is_terminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

OsResult<std::optional<std::string>> read_stdin_line() {
    // One byte at a time, so that nothing past the line feed is consumed.
    std::string line;
    char c = 0;
    while (true) {
        if (interrupt_pending()) return fail(interrupted());
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno != EINTR) return fail(last_error());
            continue;
        }
        if (n == 0) break;
        if (!may_grow(line, 1)) return fail(too_large(line.size()));
        line += c;
        if (c == '\n') break;
    }
    if (line.empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::move(line));
}

}  // namespace kiln::platform
