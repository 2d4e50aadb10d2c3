// Programs on POSIX systems: the PATH search, posix_spawn, waiting, and Ctrl-C.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

extern char** environ;

namespace kiln::platform {
namespace {

using detail::fd_of;
using detail::last_error;

volatile sig_atomic_t g_interrupted = 0;

void on_interrupt(int) {
    g_interrupted = 1;
}

std::string lowercase_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return out;
}

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The directories of a PATH value, empty entries skipped.
std::vector<std::string> search_dirs(std::string_view path_value) {
    std::vector<std::string> dirs = split_path_list(path_value);
    std::erase_if(dirs, [](const std::string& d) { return d.empty(); });
    return dirs;
}

std::optional<std::string> search_path(std::string_view name, std::string_view path_value) {
    for (const auto& dir : search_dirs(path_value)) {
        std::string candidate = join_path(dir, name);
        if (is_executable_file(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace

namespace {

// The child's environment: the shell's, with the prefix assignments added or replaced.
std::vector<std::string> child_environment(const SpawnRequest& request) {
    std::vector<std::string> env;
    std::unordered_set<std::string_view> overridden;
    for (const auto& [name, value] : request.env_overrides)
        overridden.insert(name);
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (!overridden.contains(entry.substr(0, entry.find('=')))) env.emplace_back(entry);
    }
    for (const auto& [name, value] : request.env_overrides) {
        std::erase_if(env, [&](const std::string& s) { return s.starts_with(name + "="); });
        env.push_back(name + "=" + value);
    }
    return env;
}

Result<std::string, SpawnError> resolve_program(const SpawnRequest& request) {
    const std::string& name = request.program;
    if (name.empty() || name.back() == '/')
        return fail(SpawnError{false, "program path has no file name"});
    if (name.find('/') != std::string::npos) return name;
    for (const auto& [var, value] : request.env_overrides) {
        if (var == "PATH") {
            if (auto found = search_path(name, value)) return *found;
        }
    }
    if (const char* path = std::getenv("PATH")) {
        if (auto found = search_path(name, path)) return *found;
    }
    return fail(SpawnError{true, "program not found"});
}

}  // namespace

namespace {

// The system would cut a string with a NUL byte short: the program would get other arguments.
bool holds_nul(const SpawnRequest& request) {
    const auto has_nul = [](std::string_view s) { return s.find('\0') != std::string_view::npos; };
    return has_nul(request.program) || has_nul(request.cwd) ||
           std::any_of(request.args.begin(), request.args.end(), has_nul) ||
           std::any_of(
               request.env_overrides.begin(), request.env_overrides.end(),
               [&](const auto& entry) { return has_nul(entry.first) || has_nul(entry.second); });
}

// The child's standard streams and working directory.
void set_file_actions(posix_spawn_file_actions_t& actions, const SpawnRequest& request) {
    const Handle* streams[3] = {request.in, request.out, request.err};
    for (int fd = 0; fd < 3; ++fd) {
        if (streams[fd] != nullptr)
            posix_spawn_file_actions_adddup2(&actions, fd_of(*streams[fd]), fd);
    }
    if (auto cwd = current_dir(); !request.cwd.empty() && (!cwd || *cwd != request.cwd)) {
        posix_spawn_file_actions_addchdir_np(&actions, request.cwd.c_str());
    }
}

// Children start with default signal dispositions and an empty signal mask.
void set_default_signals(posix_spawnattr_t& attr) {
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

}  // namespace

Result<Child, SpawnError> spawn(const SpawnRequest& request) {
    if (holds_nul(request)) return fail(SpawnError{false, "nul byte found in provided data"});
    auto path = resolve_program(request);
    if (!path) return fail(path.error());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    set_file_actions(actions, request);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    set_default_signals(attr);

    std::vector<std::string> argv_store;
    argv_store.push_back(request.program);
    argv_store.insert(argv_store.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Without prefix assignments the child gets the shell's own environment as it stands.
    char** env = environ;
    std::vector<std::string> env_store;
    std::vector<char*> envp;
    if (!request.env_overrides.empty()) {
        env_store = child_environment(request);
        for (auto& e : env_store)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        env = envp.data();
    }

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path->c_str(), &actions, &attr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (rc == ENOENT) return fail(SpawnError{true, describe({rc, std::strerror(rc)})});
        return fail(SpawnError{false, describe({rc, std::strerror(rc)})});
    }
    return Child{pid};
}

OsResult<int> wait_child(Child& child) {
    int status = 0;
    while (::waitpid(static_cast<pid_t>(child.id), &status, 0) < 0) {
        if (errno != EINTR) return fail(last_error());
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

std::optional<std::string> find_program(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::nullopt;
    return search_path(name, path);
}

std::vector<std::string> list_programs(std::string_view prefix, std::size_t limit) {
    std::vector<std::string> found;
    const char* path = std::getenv("PATH");
    if (path == nullptr || limit == 0) return found;
    const std::string lower_prefix = lowercase_ascii(prefix);
    std::unordered_set<std::string> seen;
    for (const auto& dir : search_dirs(path)) {
        auto entries = list_dir(dir);
        if (!entries) continue;
        for (const auto& entry : *entries) {
            std::string lower = lowercase_ascii(entry.name);
            if (!lower.starts_with(lower_prefix) || seen.contains(lower)) continue;
            if (!is_executable_file(join_path(dir, entry.name))) continue;
            seen.insert(std::move(lower));
            found.push_back(entry.name);
            if (found.size() >= limit) return found;
        }
    }
    return found;
}

// ---- interrupts ----------------------------------------------------------------------------

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a wait of the shell's own (a FIFO opened for a redirection, `read` from
    // the terminal) ends with EINTR, and the call that waited sees interrupt_pending().
    sa.sa_flags = 0;
    ::sigaction(SIGINT, &sa, nullptr);
}

bool take_interrupt() {
    const bool was = g_interrupted != 0;
    g_interrupted = 0;
    return was || ending_pending();
}

bool interrupt_pending() {
    return g_interrupted != 0;
}

}  // namespace kiln::platform
