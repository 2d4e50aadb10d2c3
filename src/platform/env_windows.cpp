// The process environment on Windows.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include "platform/env_rules.hpp"
#include "platform/platform.hpp"
#include "platform/win_search.hpp"

namespace kiln::platform {

namespace detail {

std::optional<std::wstring> env_wide(std::string_view name) {
    const std::wstring wname = wide(name);
    std::wstring value(256, L'\0');
    while (true) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n =
            GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

}  // namespace detail

using namespace detail;

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) return entries;
    for (const wchar_t* p = block; *p != L'\0';) {
        const std::wstring_view entry(p);
        p += entry.size() + 1;
        // A name may begin with "=" (the per-drive directories "=C:"); the separator is the
        // first "=" after that.
        const auto eq = entry.find(L'=', 1);
        if (eq == std::wstring_view::npos) continue;
        entries.emplace_back(narrow(entry.substr(0, eq)), narrow(entry.substr(eq + 1)));
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

std::vector<std::pair<std::string, std::string>> startup_variables() {
    return win::with_path_variable(environment());
}

std::optional<std::string> get_env(std::string_view name) {
    if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) {
        return std::nullopt;
    }
    auto value = env_wide(name);
    if (!value) return std::nullopt;
    return narrow(*value);
}

OsResult<void> set_env(std::string_view name, std::string_view value) {
    if (refused_env_name(name) || value.find('\0') != std::string_view::npos) {
        return fail(os_error(ERROR_INVALID_PARAMETER));
    }
    if (!SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str()))
        return fail(last_error());
    return {};
}

OsResult<void> unset_env(std::string_view name) {
    if (refused_env_name(name)) return fail(os_error(ERROR_INVALID_PARAMETER));
    if (!SetEnvironmentVariableW(wide(name).c_str(), nullptr) &&
        GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        return fail(last_error());
    }
    return {};
}

}  // namespace kiln::platform
