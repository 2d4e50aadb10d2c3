// The shell's standard streams on Windows: UTF-16 text to and from a console, bytes otherwise.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include <algorithm>
#include <cstdio>

#include "platform/platform.hpp"
#include "platform/win_text.hpp"

namespace kiln::platform {

namespace detail {

// The console shows text: the bytes as UTF-8, each invalid sequence as U+FFFD, so that
// nothing after a bad byte goes missing.
void write_console(HANDLE h, std::string_view bytes) {
    const std::u16string text = win::to_utf16(bytes);
    std::u16string_view rest(text);
    while (!rest.empty()) {
        const auto chunk = static_cast<DWORD>(win::console_chunk(rest, 8192));
        DWORD written = 0;
        if (!WriteConsoleW(h, reinterpret_cast<const wchar_t*>(rest.data()), chunk, &written,
                           nullptr) ||
            written == 0) {
            return;
        }
        rest.remove_prefix(std::min<std::size_t>(written, rest.size()));
    }
}

}  // namespace detail

using namespace detail;

namespace {

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// False when the reader of a pipe has gone; other errors are ignored.
bool write_std(DWORD which, std::string_view bytes) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || bytes.empty()) return true;
    if (is_console(h)) {
        write_console(h, bytes);
        return true;
    }
    auto written = write_handle(h, bytes);
    const auto code = written ? DWORD{0} : static_cast<DWORD>(written.error().code);
    return code != ERROR_NO_DATA && code != ERROR_BROKEN_PIPE;
}

// A line typed at the console, read in its own line mode; the CR LF ending becomes LF, and
// Ctrl-Z at the start of a line is the end of input.
OsResult<std::optional<std::string>> read_console_line(HANDLE h) {
    std::wstring line;
    while (line.empty() || line.back() != L'\n') {
        wchar_t buffer[256];
        DWORD n = 0;
        const bool ok = ReadConsoleW(h, buffer, 1, &n, nullptr) != 0;
        // Ctrl-C ends the read with nothing read (and an aborted operation).
        if (interrupt_pending()) return fail(interrupted());
        if (!ok) return fail(last_error());
        if (n == 0) break;
        if (line.empty() && buffer[0] == 0x1A) return std::optional<std::string>();
        line.append(buffer, n);
    }
    if (line.empty()) return std::optional<std::string>();
    if (line.size() >= 2 && line[line.size() - 2] == L'\r') line.erase(line.size() - 2, 1);
    return std::optional<std::string>(narrow(line));
}

}  // namespace

bool write_stdout(std::string_view bytes) {
    std::fflush(stdout);
    return write_std(STD_OUTPUT_HANDLE, bytes);
}

void write_stderr(std::string_view bytes) {
    (void)write_std(STD_ERROR_HANDLE, bytes);
}

bool stdin_is_terminal() {
    return is_console(GetStdHandle(STD_INPUT_HANDLE));
}

OsResult<std::optional<std::string>> read_stdin_line() {
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return std::optional<std::string>();
    if (is_console(h)) return read_console_line(h);
    // One byte at a time, so that nothing past the line feed is consumed.
    std::string line;
    while (true) {
        if (interrupt_pending()) return fail(interrupted());
        if (!may_grow(line, 1)) return fail(too_large(line.size()));
        char c = 0;
        DWORD n = 0;
        if (!ReadFile(h, &c, 1, &n, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;
            return fail(os_error(code));
        }
        if (n == 0) break;
        line += c;
        if (c == '\n') break;
    }
    if (line.empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::move(line));
}

}  // namespace kiln::platform
