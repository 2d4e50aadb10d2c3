// A kiln process on a pseudo-terminal, in a home directory of its own, for interactive tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiln::testing {

namespace fs = std::filesystem;

// A fresh temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kiln-pty-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline void write_file(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct SessionOptions {
    SessionOptions(fs::path home_dir, std::optional<fs::path> start_dir = std::nullopt)
        : home(std::move(home_dir)), cwd(std::move(start_dir)) {}

    fs::path home;                           // HOME of the shell
    std::optional<fs::path> cwd;             // defaults to home
    std::string term = "xterm";              // TERM
    std::string path_var = "/usr/bin:/bin";  // PATH
};

class PtySession {
public:
    explicit PtySession(const fs::path& home, std::optional<fs::path> cwd = std::nullopt)
        : PtySession(SessionOptions(home, std::move(cwd))) {}
    explicit PtySession(const SessionOptions& options) {
        // An empty init file keeps the machine's own readline settings out of the tests.
        const fs::path inputrc = options.home / ".test-inputrc";
        if (!fs::exists(inputrc)) write_file(inputrc, "");
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        pid_ = ::forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            const fs::path cwd = options.cwd.value_or(options.home);
            if (::chdir(cwd.c_str()) != 0) ::_exit(120);
            ::clearenv();
            ::setenv("HOME", options.home.c_str(), 1);
            ::setenv("TERM", options.term.c_str(), 1);
            ::setenv("PATH", options.path_var.c_str(), 1);
            ::setenv("INPUTRC", inputrc.c_str(), 1);
            ::setenv("LANG", "C.UTF-8", 1);
            ::execl(KILN_BINARY, "kiln", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~PtySession() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
        ::close(fd_);
    }
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n <= 0) return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Reads until `text` appears after the point reached by the previous expect; the point
    // then moves past it. False when the deadline passes or the terminal closes first.
    bool expect(std::string_view text, std::chrono::milliseconds timeout = kTimeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            if (const std::size_t at = output_.find(text, mark_); at != std::string::npos) {
                mark_ = at + text.size();
                return true;
            }
            if (!read_some(deadline)) return false;
        }
    }

    // Everything read so far, and what was read after the last expect.
    const std::string& output() const { return output_; }
    std::string since_mark() const { return output_.substr(mark_); }

    // Waits for the shell to end; its exit status, or absent at the deadline.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout = kTimeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            read_some(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
        }
        return status_;
    }

    static constexpr std::chrono::milliseconds kTimeout{5000};

private:
    bool read_some(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) return false;
        output_.append(buf, static_cast<std::size_t>(n));
        return true;
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
