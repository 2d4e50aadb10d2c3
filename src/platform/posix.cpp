// The platform services on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "common/text.hpp"
#include "platform/platform.hpp"

extern char** environ;

namespace kiln::platform {
namespace {

std::vector<std::string> g_arguments;
std::optional<std::string> g_home;
volatile sig_atomic_t g_interrupted = 0;

OsError last_error() {
    const int code = errno;
    return {code, std::strerror(code)};
}

int fd_of(const Handle& h) { return static_cast<int>(h.native()); }

std::string lowercase_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return out;
}

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
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

void on_interrupt(int) { g_interrupted = 1; }

}  // namespace

std::string describe(const OsError& error) {
    return error.message + " (os error " + std::to_string(error.code) + ")";
}

// ---- process start-up ----------------------------------------------------------------------

void init(int argc, char** argv) {
    g_arguments.clear();
    for (int i = 0; i < argc; ++i) g_arguments.push_back(to_valid_utf8(argv[i]));
    // The profile folder is HOME as the process had it at start, else the password database's.
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        g_home = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        g_home = pw->pw_dir;
    }
    // A write to a reader that has gone is an ignored error, never a crash.
    ::signal(SIGPIPE, SIG_IGN);
}

const std::vector<std::string>& arguments() { return g_arguments; }

const std::optional<std::string>& home_dir() { return g_home; }

int process_id() { return static_cast<int>(::getpid()); }

void exit_process(int status) {
    std::fflush(stdout);
    std::exit(status);
}

// ---- environment ---------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        entries.emplace_back(to_valid_utf8(entry.substr(0, eq)), to_valid_utf8(entry.substr(eq + 1)));
    }
    return entries;
}

std::optional<std::string> get_env(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

namespace {
bool refused_name(std::string_view name) {
    return name.empty() || name.find('=') != std::string_view::npos ||
           name.find('\0') != std::string_view::npos;
}
}  // namespace

OsResult<void> set_env(std::string_view name, std::string_view value) {
    if (refused_name(name) || value.find('\0') != std::string_view::npos) {
        return fail(OsError{EINVAL, std::strerror(EINVAL)});
    }
    if (::setenv(std::string(name).c_str(), std::string(value).c_str(), 1) != 0) {
        return fail(last_error());
    }
    return {};
}

OsResult<void> unset_env(std::string_view name) {
    if (refused_name(name)) return fail(OsError{EINVAL, std::strerror(EINVAL)});
    if (::unsetenv(std::string(name).c_str()) != 0) return fail(last_error());
    return {};
}

// ---- paths ---------------------------------------------------------------------------------

bool is_separator(char c) { return c == '/'; }

bool is_absolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

std::string join_path(std::string_view base, std::string_view rel) {
    if (is_absolute(rel) || base.empty()) return std::string(rel);
    std::string out(base);
    if (out.back() != '/') out += '/';
    out += rel;
    return out;
}

std::string normalize_path(std::string_view path) {
    const bool rooted = is_absolute(path);
    std::vector<std::string_view> names;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t end = std::min(path.find('/', i), path.size());
        const std::string_view part = path.substr(i, end - i);
        if (part == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!part.empty() && part != ".") {
            names.push_back(part);
        }
        i = end + 1;
    }
    std::string out = rooted ? "/" : "";
    for (std::size_t n = 0; n < names.size(); ++n) {
        if (n > 0) out += '/';
        out += names[n];
    }
    return out.empty() ? "." : out;
}

std::vector<std::string> split_path_list(std::string_view value) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = value.find(kPathListSeparator, start);
        parts.emplace_back(value.substr(start, colon - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    return parts;
}

OsResult<std::string> current_dir() {
    std::string buf(256, '\0');
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) return fail(last_error());
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

OsResult<void> set_current_dir(const std::string& path) {
    if (::chdir(path.c_str()) != 0) return fail(last_error());
    return {};
}

// ---- files ---------------------------------------------------------------------------------

FileKind file_kind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    if (S_ISDIR(st.st_mode)) return FileKind::Directory;
    return FileKind::Other;
}

namespace {

// Buffers from this size on are treated as large.
constexpr std::size_t kLarge = std::size_t{4} << 20;

// Asks for huge pages for a large file's buffer, where the system offers them on request: a
// gigabyte read into memory then takes a few hundred page faults instead of a quarter million.
// Only whole-file reads ask: while a child fills a pipe, clearing 2 MiB at a time stalls both
// sides, and measured slower than small pages.
void advise_huge_pages(std::string& buffer) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kPage = 4096;
    const auto base = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t start = (base + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (base + buffer.capacity()) & ~(kPage - 1);
    if (end > start) (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)buffer;
#endif
}

// Maps the pages of a span about to be written in one call rather than one fault per page, on
// systems that offer it; a quarter of the time of reading a large pipe went to those faults.
void prefault(char* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::uintptr_t kPage = 4096;
    const auto base = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t start = (base + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (base + size) & ~(kPage - 1);
    if (end > start)
        (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
#endif
}

// Grows a large buffer eightfold, or twofold when the system will not lend that much address
// space. Capacity that is never written costs no memory, while every copy touches fresh pages,
// which is what costs time: a gigabyte read from a pipe is copied a third of a gigabyte
// instead of a whole one.
void grow_large(std::string& out) {
    std::string next;
    try {
        next.reserve(out.capacity() * 8);
    } catch (const std::bad_alloc&) {
        next.reserve(out.capacity() * 2);
    }
    next.append(out);
    out.swap(next);
}

OsResult<void> read_into(int fd, std::string& out, bool prefault_steps);

}  // namespace

OsResult<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(last_error());
    const Handle handle(fd);
    std::string bytes;
    bool huge = false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.reserve(static_cast<std::size_t>(st.st_size));
        huge = bytes.capacity() >= kLarge;
        if (huge) advise_huge_pages(bytes);
    }
    if (auto r = read_into(fd, bytes, !huge); !r) return fail(r.error());
    return bytes;
}

OsResult<std::vector<DirEntry>> list_dir(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return fail(last_error());
    std::vector<DirEntry> entries;
    const int dfd = ::dirfd(dir);
    while (true) {
        errno = 0;
        const dirent* ent = ::readdir(dir);
        if (ent == nullptr) break;
        const std::string_view name(ent->d_name);
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(dfd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries.push_back({std::string(name), S_ISDIR(st.st_mode), S_ISLNK(st.st_mode),
                           static_cast<std::uint64_t>(st.st_size)});
    }
    const int read_errno = errno;
    ::closedir(dir);
    if (read_errno != 0) return fail(OsError{read_errno, std::strerror(read_errno)});
    return entries;
}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::exchange(other.native_, -1);
    }
    return *this;
}

void Handle::close() {
    if (native_ != -1) ::close(static_cast<int>(std::exchange(native_, -1)));
}

OsResult<Handle> open_for_write(const std::string& path, bool append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return fail(last_error());
    return Handle(fd);
}

namespace {
OsResult<void> write_fd(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}
}  // namespace

OsResult<void> write_all(const Handle& handle, std::string_view bytes) {
    return write_fd(fd_of(handle), bytes);
}

namespace {

// Appends everything up to end of input. With prefault_steps, each large step's pages are
// mapped in one call; a buffer given huge pages is not, which measured five times slower.
OsResult<void> read_into(int fd, std::string& out, bool prefault_steps) {
    // The string is grown ahead of the bytes in steps of up to 1 MiB and cut back to what was
    // read at the end: each byte of spare capacity is zero-filled once, just before the data
    // reaches it, so that memory is touched only as data arrives.
    constexpr std::size_t kStep = std::size_t{1} << 20;
    char probe[16384];
    std::size_t used = out.size();
    while (true) {
        if (used == out.size()) {
            const std::size_t spare = out.capacity() - used;
            if (spare < sizeof probe) {
                // Nearly full, as a file read into a buffer of its own size ends, or still
                // small: read into the stack first, so that end of input never grows the
                // buffer and small outputs are not read a few bytes at a time.
                const ssize_t n = ::read(fd, probe, sizeof probe);
                if (n == 0) return {};
                if (n < 0) {
                    if (errno == EINTR) continue;
                    return fail(last_error());
                }
                if (out.capacity() >= kLarge) grow_large(out);
                out.append(probe, static_cast<std::size_t>(n));
                used = out.size();
                continue;
            }
            const std::size_t step = std::min(spare, kStep);
            if (prefault_steps && step >= kStep / 4) prefault(out.data() + used, step);
            out.resize(used + step);
        }
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            const OsError error = last_error();
            out.resize(used);  // the bytes read before the error stay
            return fail(error);
        }
        if (n == 0) {
            out.resize(used);
            return {};
        }
        used += static_cast<std::size_t>(n);
    }
}

}  // namespace

OsResult<void> read_all(const Handle& handle, std::string& out) {
    return read_into(fd_of(handle), out, true);
}

OsResult<Pipe> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return fail(last_error());
#ifdef F_SETPIPE_SZ
    // A larger pipe moves a command's input and output in fewer, larger steps; the system's
    // default size stays when it refuses.
    (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
#endif
    return Pipe{Handle(fds[0]), Handle(fds[1])};
}

// ---- standard streams ----------------------------------------------------------------------

void write_stdout(std::string_view bytes) {
    std::fflush(stdout);
    (void)write_fd(STDOUT_FILENO, bytes);
}

void write_stderr(std::string_view bytes) { (void)write_fd(STDERR_FILENO, bytes); }

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

OsResult<std::optional<std::string>> read_stdin_line() {
    // One byte at a time, so that nothing past the line feed is consumed.
    std::string line;
    char c = 0;
    while (true) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        if (n == 0) break;
        line += c;
        if (c == '\n') break;
    }
    if (line.empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::move(line));
}

// ---- programs ------------------------------------------------------------------------------

namespace {

// The child's environment: the shell's, with the prefix assignments added or replaced.
std::vector<std::string> child_environment(const SpawnRequest& request) {
    std::vector<std::string> env;
    std::unordered_set<std::string_view> overridden;
    for (const auto& [name, value] : request.env_overrides) overridden.insert(name);
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
    if (name.empty() || name.back() == '/') return fail(SpawnError{false, "program path has no file name"});
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

Result<Child, SpawnError> spawn(const SpawnRequest& request) {
    auto path = resolve_program(request);
    if (!path) return fail(path.error());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const Handle* streams[3] = {request.in, request.out, request.err};
    for (int fd = 0; fd < 3; ++fd) {
        if (streams[fd] != nullptr) posix_spawn_file_actions_adddup2(&actions, fd_of(*streams[fd]), fd);
    }
    if (auto cwd = current_dir(); !request.cwd.empty() && (!cwd || *cwd != request.cwd)) {
        posix_spawn_file_actions_addchdir_np(&actions, request.cwd.c_str());
    }
    // Children start with default signal dispositions and an empty signal mask.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argv_store;
    argv_store.push_back(request.program);
    argv_store.insert(argv_store.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_store = child_environment(request);
    std::vector<char*> envp;
    for (auto& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path->c_str(), &actions, &attr, argv.data(), envp.data());
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
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
}

bool take_interrupt() {
    const bool was = g_interrupted != 0;
    g_interrupted = 0;
    return was;
}

}  // namespace kiln::platform
