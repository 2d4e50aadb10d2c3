// Paths, the current directory and the system's own folders on Windows.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include "platform/platform.hpp"
#include "platform/win_text.hpp"

namespace kiln::platform {

namespace detail {

namespace {
// A string that a system call fills, given its length: the system and Windows folders.
template <class Fill>
std::string fill_string(Fill fill) {
    std::wstring buffer(MAX_PATH, L'\0');
    UINT n = fill(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n >= buffer.size()) {
        buffer.resize(n);
        n = fill(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (n == 0 || n >= buffer.size()) return {};
    buffer.resize(n);
    return narrow(buffer);
}

}  // namespace

std::string system_dir() {
    return fill_string(GetSystemDirectoryW);
}
std::string windows_dir() {
    return fill_string(GetWindowsDirectoryW);
}

std::string own_dir() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    std::string path = narrow(buffer);
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace detail

using namespace detail;

bool is_separator(char c) {
    return win::is_separator(c);
}
bool is_absolute(std::string_view path) {
    return win::is_absolute(path);
}
std::string join_path(std::string_view base, std::string_view rel) {
    return win::join_path(base, rel);
}
std::string normalize_path(std::string_view path) {
    return win::normalize_path(path);
}
std::vector<std::string> split_path_list(std::string_view value) {
    return win::split_path_list(value);
}

OsResult<std::string> current_dir() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return fail(last_error());
        if (n < buffer.size()) {
            buffer.resize(n);
            return narrow(buffer);
        }
        buffer.resize(n);
    }
}

OsResult<void> set_current_dir(const std::string& path) {
    if (!SetCurrentDirectoryW(wide(path).c_str())) return fail(last_error());
    return {};
}

}  // namespace kiln::platform
