// Runs a program in its own process group: its input comes from a pipe filled beforehand,
// its output streams go to files that are read once it has ended.
#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

std::string read_and_remove(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    unlink(path.c_str());
    return text.str();
}

}  // namespace

ProcessResult run_process(const ProcessLaunch& launch, const std::string& scratch) {
    ProcessResult r;
    // The input goes into the pipe before the start; cases hold far less than a pipe takes.
    int in[2] = {-1, -1};
    if (launch.input) {
        if (pipe2(in, O_CLOEXEC) != 0) {
            r.start_error = strerror(errno);
            return r;
        }
        fcntl(in[1], F_SETPIPE_SZ, 1 << 20);
        if (write(in[1], launch.input->data(), launch.input->size()) < 0)
            r.start_error = strerror(errno);
        close(in[1]);
    }
    const std::string out = scratch + ".out", err = scratch + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, launch.cwd.c_str());
    if (launch.input)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    auto argv_strings = launch.argv, env_strings = launch.env;
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv_strings[0].c_str(), &actions, &attr,
                                   pointers(argv_strings).data(), pointers(env_strings).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (in[0] >= 0) close(in[0]);
    if (failed != 0) {
        r.start_error = launch.argv[0] + ": " + strerror(failed);
        return r;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(launch.timeout_seconds);
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            r.timed_out = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &raw, 0);
            break;
        }
        usleep(1000);
    }
    kill(-pid, SIGKILL);  // programs left behind in the group must not outlive the case
    r.out = read_and_remove(out);
    r.err = read_and_remove(err);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    return r;
}

}  // namespace e2e
