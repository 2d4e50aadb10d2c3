// Helpers shared by the Windows platform files (*_windows.cpp), each under the file that
// defines it; Windows only.
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

inline HANDLE handle_of(const Handle& h) {
    return reinterpret_cast<HANDLE>(h.native());
}

// text_windows.cpp
std::wstring wide(std::string_view text);
std::string narrow(std::wstring_view text, bool* valid = nullptr);
// The system's simple lowercase mapping; the length in UTF-16 units stays the same.
std::wstring lowercase(std::wstring text);

// errors_windows.cpp
OsError os_error(DWORD code);
OsError last_error();

// console_windows.cpp: UTF-8 bytes as UTF-16 text on a console screen buffer, in writes that
// keep surrogate pairs whole. The editor writes through it as well.
void write_console(HANDLE h, std::string_view bytes);

// env_windows.cpp: a variable of the process environment as UTF-16, absent when unset.
std::optional<std::wstring> env_wide(std::string_view name);

// paths_windows.cpp
std::string system_dir();
std::string windows_dir();
// The folder holding kiln.exe.
std::string own_dir();
// A path as the file calls take it: unchanged while it is short; else absolute, in the
// verbatim form (\\?\C:\...), relative ones resolved against the shell's directory. Device
// names stay as they are.
std::wstring sys_path(std::string_view path);
// Records a directory as its drive's current one where the system looks for it ("=D:"), so
// that a later "D:" of the shell, or of a program started from it, comes back to it.
void keep_drive_directory(const std::string& dir);

// files_windows.cpp
// Something exists at the path and it is not a directory.
bool is_file(const std::string& path);
// Writes every byte to a file or pipe handle.
OsResult<void> write_handle(HANDLE h, std::string_view bytes);

// signals_windows.cpp: the console control handler that saves before the process ends.
BOOL WINAPI on_console_ending(DWORD type);

}  // namespace kiln::platform::detail
