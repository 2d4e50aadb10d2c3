// Helpers shared by the Windows platform files (windows.cpp, process_windows.cpp); Windows only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace kiln::platform::detail {

std::wstring wide(std::string_view text);
std::string narrow(std::wstring_view text, bool* valid = nullptr);

OsError os_error(DWORD code);
OsError last_error();

inline HANDLE handle_of(const Handle& h) {
    return reinterpret_cast<HANDLE>(h.native());
}

// A variable of the process environment as UTF-16, absent when unset.
std::optional<std::wstring> env_wide(std::string_view name);

std::string system_dir();
std::string windows_dir();
// The folder holding kiln.exe.
std::string own_dir();
// Something exists at the path and it is not a directory.
bool is_file(const std::string& path);
// The system's simple lowercase mapping; the length in UTF-16 units stays the same.
std::wstring lowercase(std::wstring text);

}  // namespace kiln::platform::detail
