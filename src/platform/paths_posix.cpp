// Paths and the current directory on POSIX systems.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"
#include "platform/shared_rules.hpp"

namespace kiln::platform {

using detail::last_error;

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
    return normalized_names(is_absolute(path) ? "/" : "", path, 0, is_separator, '/');
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
