// Runs a program in its own process group, feeding its input and collecting both output streams.
#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
};

bool make_pipe(Pipe& p) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    p.read = fds[0];
    p.write = fds[1];
    return true;
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Child side of fork: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(const ProcessLaunch& launch, char* const* argv, char* const* envp,
                             int in_fd, int out_fd, int err_fd, int report_fd) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    int err = 0;
    if (chdir(launch.cwd.c_str()) != 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
        dup2(err_fd, 2) < 0) {
        err = errno;
    } else {
        execve(argv[0], argv, envp);
        err = errno;
    }
    ssize_t ignored = write(report_fd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Moves bytes between the parent and the child's pipes until both output pipes close or the
// deadline passes; returns false on timeout.
bool pump(int& in_fd, int& out_fd, int& err_fd, const std::string& input, ProcessResult& r,
          Clock::time_point deadline) {
    std::size_t written = 0;
    if (in_fd >= 0 && input.empty()) close_fd(in_fd);
    char buffer[65536];
    while (out_fd >= 0 || err_fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        int n = poll(fds, 3, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close_fd(i == 0 ? out_fd : err_fd);
            }
        }
        if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(in_fd, input.data() + written, input.size() - written);
            if (put > 0) written += static_cast<std::size_t>(put);
            if (put < 0 && errno != EINTR && errno != EAGAIN) close_fd(in_fd);
            if (written == input.size()) close_fd(in_fd);
        }
    }
    close_fd(in_fd);
    return true;
}

// Waits for the child until the deadline; kills its whole group when the deadline passes.
bool wait_child(pid_t pid, int& raw_status, Clock::time_point deadline) {
    while (true) {
        pid_t got = waitpid(pid, &raw_status, WNOHANG);
        if (got == pid) return true;
        if (got < 0 && errno != EINTR) return true;
        if (Clock::now() >= deadline) return false;
        usleep(2000);
    }
}

}  // namespace

ProcessResult run_process(const ProcessLaunch& launch) {
    ProcessResult r;
    Pipe in, out, err, report;
    int null_fd = -1;
    if (!make_pipe(out) || !make_pipe(err) || !make_pipe(report) ||
        (launch.input && !make_pipe(in))) {
        r.start_error = std::string("pipe: ") + std::strerror(errno);
        return r;
    }
    if (!launch.input) null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto argv_strings = launch.argv;
    auto env_strings = launch.env;
    auto argv = pointers(argv_strings);
    auto envp = pointers(env_strings);

    pid_t pid = fork();
    if (pid == 0) {
        exec_child(launch, argv.data(), envp.data(), launch.input ? in.read : null_fd, out.write,
                   err.write, report.write);
    }
    setpgid(pid, pid);  // also here, so that a kill on timeout never misses the group
    close_fd(in.read);
    close_fd(out.write);
    close_fd(err.write);
    close_fd(report.write);
    close_fd(null_fd);
    if (pid < 0) {
        r.start_error = std::string("fork: ") + std::strerror(errno);
        close_fd(in.write), close_fd(out.read), close_fd(err.read), close_fd(report.read);
        return r;
    }
    if (launch.input) fcntl(in.write, F_SETFL, O_NONBLOCK);

    auto deadline = Clock::now() + std::chrono::seconds(launch.timeout_seconds);
    bool finished = pump(in.write, out.read, err.read, launch.input.value_or(""), r, deadline);
    int raw = 0;
    if (!finished || !wait_child(pid, raw, deadline)) {
        r.timed_out = true;
        kill(-pid, SIGKILL);
        waitpid(pid, &raw, 0);
    }
    kill(-pid, SIGKILL);  // programs left behind in the group must not outlive the case
    close_fd(in.write), close_fd(out.read), close_fd(err.read);

    int exec_errno = 0;
    if (read(report.read, &exec_errno, sizeof exec_errno) == sizeof exec_errno)
        r.start_error = launch.argv[0] + ": " + std::strerror(exec_errno);
    close_fd(report.read);
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) {
        r.signal = WTERMSIG(raw);
        r.status = 128 + r.signal;
    }
    return r;
}

}  // namespace e2e
