// A kiln process on a pseudo-terminal, in a home directory of its own, for interactive tests.
#pragma once

#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace kiln::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline void write_file(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh temporary directory, removed with everything in it.
struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kiln-pty-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

class PtySession {
public:
    // kiln on an 80x24 terminal in `cwd` (default: home), with HOME, TERM and PATH as given
    // and an empty readline init file, so that the machine's own settings stay out. File
    // permissions hold for it even when the tests run as root, and no program leaves a core.
    explicit PtySession(const fs::path& home, std::optional<fs::path> cwd = {},
                        const char* term = "xterm", const std::string& path = "/usr/bin:/bin") {
        const fs::path inputrc = home / ".test-inputrc";
        if (!fs::exists(inputrc)) write_file(inputrc, "");
        winsize size{24, 80, 0, 0};
        pid_ = ::forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            if (::chdir(cwd.value_or(home).c_str()) != 0) ::_exit(120);
            ::clearenv();
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("TERM", term, 1);
            ::setenv("PATH", path.c_str(), 1);
            ::setenv("INPUTRC", inputrc.c_str(), 1);
            ::setenv("LANG", "C.UTF-8", 1);
            (void)::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            (void)::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
            const rlimit no_core{0, 0};
            ::setrlimit(RLIMIT_CORE, &no_core);
            ::execl(KILN_BINARY, "kiln", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~PtySession() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(fd_);
    }

    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n <= 0) return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Reads until `text` appears after the point reached by the previous expect, and moves
    // the point past it; false when the deadline passes or the terminal closes first.
    bool expect(std::string_view text, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::size_t at;
        while ((at = output_.find(text, mark_)) == std::string::npos)
            if (!read_some(deadline)) return false;
        mark_ = at + text.size();
        return true;
    }
    // Sends the bytes, then expects the text.
    bool type(std::string_view bytes, std::string_view text,
              std::chrono::milliseconds timeout = 5s) {
        return send(bytes), expect(text, timeout);
    }
    const std::string& output() const { return output_; }
    void signal(int number) { ::kill(pid_, number); }

    // Waits for the shell to end: its exit status, or absent at the deadline.
    std::optional<int> wait_exit() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (int st = 0; !status_ && std::chrono::steady_clock::now() < deadline;) {
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            } else {
                read_some(std::chrono::steady_clock::now() + 50ms);
            }
        }
        return status_;
    }

private:
    bool read_some(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) output_.append(buf, static_cast<std::size_t>(n));
        return n > 0;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
    std::size_t mark_ = 0;
    std::optional<int> status_;
};

// The prompt bytes as the terminal receives them.
inline std::string colored_prompt(std::string_view dir, bool ok) {
    return "\x1b[1;36mkiln\x1b[0m \x1b[33m" + std::string(dir) + "\x1b[0m " +
           (ok ? "\x1b[32m$" : "\x1b[31m!") + "\x1b[0m ";
}

}  // namespace kiln::testing
