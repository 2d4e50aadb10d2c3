// Paths and the current directory on POSIX systems.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

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
