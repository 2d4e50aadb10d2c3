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

// The shell's directory when the system refused to make it the process's own (past MAX_PATH
// without long-path support); empty while the process's directory is the shell's.
std::string g_long_cwd;

// Past this length a directory path needs the \\?\ form (MAX_PATH less an 8.3 file name).
constexpr std::size_t kShortPath = MAX_PATH - 12;

std::wstring system_cwd() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n);
    }
}

}  // namespace

void keep_drive_directory(const std::string& dir) {
    if (win::prefix_length(dir) != 2 || !win::is_absolute(dir)) return;
    SetEnvironmentVariableW(wide(win::drive_variable(dir[0])).c_str(), wide(dir).c_str());
}

std::wstring sys_path(std::string_view path) {
    if (win::is_absolute(path)) {
        return wide(path.size() < kShortPath ? std::string(path) : win::extended_path(path));
    }
    if (win::is_device_name(path)) return wide(path);
    std::string cwd = g_long_cwd;
    if (cwd.empty()) {
        // The system resolves the path against the process's directory, which is the shell's.
        const std::wstring process_cwd = system_cwd();
        if (process_cwd.size() + path.size() < kShortPath) return wide(path);
        cwd = narrow(process_cwd);
    }
    return wide(win::extended_path(win::join_path(cwd, path)));
}

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
    // A drive-relative path ("D:x") lands below its drive's current directory, so that the
    // result is absolute whenever the base is.
    if (const auto drive = win::relative_drive(rel)) {
        const auto kept = env_wide(win::drive_variable(*drive));
        std::string dir = win::drive_directory(*drive, base, kept ? narrow(*kept) : "");
        return rel.size() == 2 ? dir : win::join_path(dir, rel.substr(2));
    }
    return win::join_path(base, rel);
}
std::string normalize_path(std::string_view path) {
    return win::normalize_path(path);
}
std::vector<std::string> split_path_list(std::string_view value) {
    return win::split_path_list(value);
}

OsResult<std::string> current_dir() {
    if (!g_long_cwd.empty()) return g_long_cwd;
    std::wstring cwd = system_cwd();
    if (cwd.empty()) return fail(last_error());
    return narrow(cwd);
}

OsResult<void> set_current_dir(const std::string& path) {
    if (SetCurrentDirectoryW(wide(path).c_str())) {
        g_long_cwd.clear();
        keep_drive_directory(path);
        return {};
    }
    const OsError error = last_error();
    // A long directory that the system will not make the process's own is still the shell's:
    // relative paths are resolved against it here, and programs start in it.
    const std::wstring full = sys_path(path);
    const DWORD attr = GetFileAttributesW(full.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return fail(error);
    }
    auto base = current_dir();
    if (!base) return fail(error);
    g_long_cwd = win::normalize_path(win::join_path(*base, path));
    keep_drive_directory(g_long_cwd);
    return {};
}

}  // namespace kiln::platform
