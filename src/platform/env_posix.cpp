// The process environment on POSIX systems.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/text.hpp"
#include "platform/env_rules.hpp"
#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

extern char** environ;

namespace kiln::platform {

using detail::last_error;

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t count = 0;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        ++count;
    entries.reserve(count);
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        entries.emplace_back(to_valid_utf8(entry.substr(0, eq)),
                             to_valid_utf8(entry.substr(eq + 1)));
    }
    return entries;
}

std::vector<std::pair<std::string, std::string>> startup_variables() {
    return environment();
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

}  // namespace kiln::platform
