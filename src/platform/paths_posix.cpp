// The platform on POSIX systems: start-up, the environment, paths and the current directory.
#include <malloc.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.hpp"
#include "platform/env_rules.hpp"
#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

extern char** environ;

namespace kiln::platform {
namespace {

using detail::last_error;

std::vector<std::string> g_arguments;
std::optional<std::string> g_home;

}  // namespace

std::string describe(const OsError& error) {
    return error.message + " (os error " + std::to_string(error.code) + ")";
}

// ---- process start-up ----------------------------------------------------------------------

void init(int argc, char** argv) {
    g_arguments.clear();
    for (int i = 0; i < argc; ++i)
        g_arguments.push_back(to_valid_utf8(argv[i]));
    // The profile folder is HOME as the process had it at start, else the password database's.
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        g_home = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        g_home = pw->pw_dir;
    }
    // A write to a reader that has gone is an ignored error, never a crash.
    ::signal(SIGPIPE, SIG_IGN);
    // Expansion and parsing make and drop blocks of a few hundred kilobytes again and again
    // (the names of a large directory, the tree of a sourced file). From the heap, and kept
    // there once freed, they are not mapped and faulted in afresh every time; blocks past
    // 32 MiB, such as a large captured output, are still mapped and given back at once.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

const std::vector<std::string>& arguments() {
    return g_arguments;
}

const std::optional<std::string>& home_dir() {
    return g_home;
}

int process_id() {
    return static_cast<int>(::getpid());
}

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
        entries.emplace_back(to_valid_utf8(entry.substr(0, eq)),
                             to_valid_utf8(entry.substr(eq + 1)));
    }
    return entries;
}

std::optional<std::string> get_env(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

OsResult<void> set_env(std::string_view name, std::string_view value) {
    if (refused_env_name(name) || value.find('\0') != std::string_view::npos) {
        return fail(OsError{EINVAL, std::strerror(EINVAL)});
    }
    if (::setenv(std::string(name).c_str(), std::string(value).c_str(), 1) != 0) {
        return fail(last_error());
    }
    return {};
}

OsResult<void> unset_env(std::string_view name) {
    if (refused_env_name(name)) return fail(OsError{EINVAL, std::strerror(EINVAL)});
    if (::unsetenv(std::string(name).c_str()) != 0) return fail(last_error());
    return {};
}

// ---- paths ---------------------------------------------------------------------------------

bool is_separator(char c) {
    return c == '/';
}

bool is_absolute(std::string_view path) {
    return !path.empty() && path[0] == '/';
}

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

}  // namespace kiln::platform
