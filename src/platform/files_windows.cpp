// The platform services on Windows: UTF-16 system calls behind the UTF-8 interface.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>

#include "common/text.hpp"
#include "platform/env_rules.hpp"
#include "platform/platform.hpp"
#include "platform/win_cmdline.hpp"
#include "platform/win_text.hpp"

namespace kiln::platform {

namespace detail {

std::wstring wide(std::string_view text) {
    const std::u16string u = win::to_utf16(text);
    return std::wstring(u.begin(), u.end());
}

std::string narrow(std::wstring_view text, bool* valid) {
    return win::to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()), valid);
}

namespace {
std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD n =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer != nullptr) text = narrow(std::wstring_view(buffer, n));
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) text = "Unknown error";
    return text;
}

}  // namespace

OsError os_error(DWORD code) {
    return {static_cast<int>(code), system_message(code)};
}
OsError last_error() {
    return os_error(GetLastError());
}

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

bool is_file(const std::string& path) {
    const DWORD attr = GetFileAttributesW(wide(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring lowercase(std::wstring text) {
    if (text.empty()) return text;
    std::wstring out(text.size(), L'\0');
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.c_str(),
                                static_cast<int>(text.size()), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr, 0);
    return n == static_cast<int>(text.size()) ? out : text;
}

}  // namespace detail

using namespace detail;

namespace {

std::vector<std::string> g_arguments;
std::optional<std::string> g_home;
DWORD g_saved_out_mode = 0;
bool g_out_mode_saved = false;

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

DWORD attributes(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str());
}

// Colours and clear screen need virtual-terminal processing on the console's output.
void enable_virtual_terminal(DWORD which) {
    HANDLE h = GetStdHandle(which);
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return;
    if (which == STD_OUTPUT_HANDLE) {
        g_saved_out_mode = mode;
        g_out_mode_saved = true;
    }
    SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

std::string describe(const OsError& error) {
    return error.message + " (os error " + std::to_string(error.code) + ")";
}

// ---- process start-up ----------------------------------------------------------------------

void init(int, char**) {
    // The C runtime's argv is in the ANSI code page; the UTF-16 command line is the truth.
    const std::string line = narrow(GetCommandLineW());
    g_arguments = win::split_command_line(line);
    PWSTR profile = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile)) &&
        profile != nullptr) {
        g_home = narrow(profile);
    }
    CoTaskMemFree(profile);
    enable_virtual_terminal(STD_OUTPUT_HANDLE);
    enable_virtual_terminal(STD_ERROR_HANDLE);
}

const std::vector<std::string>& arguments() {
    return g_arguments;
}

const std::optional<std::string>& home_dir() {
    return g_home;
}

int process_id() {
    return static_cast<int>(GetCurrentProcessId());
}

void exit_process(int status) {
    std::fflush(stdout);
    if (g_out_mode_saved) SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), g_saved_out_mode);
    ExitProcess(static_cast<UINT>(status));
}

// ---- environment ---------------------------------------------------------------------------

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

// ---- paths ---------------------------------------------------------------------------------

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

// ---- files ---------------------------------------------------------------------------------

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_existing(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}
}  // namespace

FileKind file_kind(const std::string& path) {
    if (path.empty()) return FileKind::Missing;
    DWORD attr = attributes(path);
    if (attr == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link: ask about what it points to.
        HANDLE h = open_existing(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
        if (h == INVALID_HANDLE_VALUE) return FileKind::Missing;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        if (!ok) return FileKind::Missing;
        attr = info.dwFileAttributes;
    }
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
    if (attr & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
    return FileKind::Regular;
}

OsResult<std::string> read_file(const std::string& path) {
    HANDLE h = open_existing(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return fail(last_error());
    const Handle handle(reinterpret_cast<std::intptr_t>(h));
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    if (auto r = read_all(handle, bytes); !r) return fail(r.error());
    return bytes;
}

OsResult<std::vector<DirEntry>> list_dir(const std::string& path) {
    std::string pattern = path.empty() ? std::string(".") : path;
    // A bare drive ("C:") stands for that drive's current directory: "C:*", not "C:\*".
    const bool bare_drive = pattern.size() == 2 && win::prefix_length(pattern) == 2;
    if (!is_separator(pattern.back()) && !bare_drive) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW(wide(pattern).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<DirEntry> entries;
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // An empty drive root has not even "." and "..".
        if (code == ERROR_FILE_NOT_FOUND && file_kind(path) == FileKind::Directory) return entries;
        return fail(os_error(code));
    }
    do {
        const std::wstring_view wname(data.cFileName);
        if (wname == L"." || wname == L"..") continue;
        const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link;
        const std::uint64_t size =
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        entries.push_back({narrow(wname), dir, link, size});
    } while (FindNextFileW(find, &data));
    const DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) return fail(os_error(code));
    return entries;
}

void Handle::close() {
    if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(std::exchange(native_, -1)));
}

OsResult<Handle> open_for_write(const std::string& path, bool append) {
    // Appending handles lack FILE_WRITE_DATA, so the system puts every write at the end.
    const DWORD access = append ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
    HANDLE h = CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(last_error());
    Handle handle(reinterpret_cast<std::intptr_t>(h));
    // OPEN_ALWAYS and an explicit truncation, unlike CREATE_ALWAYS, also work on hidden files.
    if (!append && !SetEndOfFile(h)) return fail(last_error());
    return handle;
}

namespace {
OsResult<void> write_handle(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) return fail(last_error());
        bytes.remove_prefix(written);
    }
    return {};
}

// The console shows text: the bytes as UTF-8, each invalid sequence as U+FFFD, so that
// nothing after a bad byte goes missing.
void write_console(HANDLE h, std::string_view bytes) {
    const std::wstring text = wide(bytes);
    std::wstring_view rest(text);
    while (!rest.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
        // Keep a surrogate pair together.
        if (chunk < rest.size() && rest[chunk - 1] >= 0xD800 && rest[chunk - 1] <= 0xDBFF) --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(h, rest.data(), chunk, &written, nullptr) || written == 0) return;
        rest.remove_prefix(written);
    }
}

void write_std(DWORD which, std::string_view bytes) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || bytes.empty()) return;
    if (is_console(h)) {
        write_console(h, bytes);
    } else {
        (void)write_handle(h, bytes);
    }
}
}  // namespace

OsResult<void> write_all(const Handle& handle, std::string_view bytes) {
    return write_handle(handle_of(handle), bytes);
}

OsResult<void> read_all(const Handle& handle, std::string& out) {
    constexpr std::size_t kChunk = 1 << 16;
    while (true) {
        const std::size_t old = out.size();
        out.resize(old + kChunk);
        DWORD n = 0;
        const BOOL ok = ReadFile(handle_of(handle), out.data() + old, kChunk, &n, nullptr);
        out.resize(old + n);
        if (!ok) {
            // The writer of a pipe has closed its end: that is the end of the data.
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return {};
            return fail(os_error(code));
        }
        if (n == 0) return {};
    }
}

OsResult<Pipe> make_pipe() {
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, 0)) return fail(last_error());
    return Pipe{Handle(reinterpret_cast<std::intptr_t>(r)),
                Handle(reinterpret_cast<std::intptr_t>(w))};
}

// ---- standard streams ----------------------------------------------------------------------

void write_stdout(std::string_view bytes) {
    std::fflush(stdout);
    write_std(STD_OUTPUT_HANDLE, bytes);
}

void write_stderr(std::string_view bytes) {
    write_std(STD_ERROR_HANDLE, bytes);
}

bool stdin_is_terminal() {
    return is_console(GetStdHandle(STD_INPUT_HANDLE));
}

namespace {
// A line typed at the console, read in its own line mode; the CR LF ending becomes LF, and
// Ctrl-Z at the start of a line is the end of input.
OsResult<std::optional<std::string>> read_console_line(HANDLE h) {
    std::wstring line;
    while (line.empty() || line.back() != L'\n') {
        wchar_t buffer[256];
        DWORD n = 0;
        if (!ReadConsoleW(h, buffer, 1, &n, nullptr)) return fail(last_error());
        if (n == 0) break;
        if (line.empty() && buffer[0] == 0x1A) return std::optional<std::string>();
        line.append(buffer, n);
    }
    if (line.empty()) return std::optional<std::string>();
    if (line.size() >= 2 && line[line.size() - 2] == L'\r') line.erase(line.size() - 2, 1);
    return std::optional<std::string>(narrow(line));
}
}  // namespace

OsResult<std::optional<std::string>> read_stdin_line() {
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return std::optional<std::string>();
    if (is_console(h)) return read_console_line(h);
    // One byte at a time, so that nothing past the line feed is consumed.
    std::string line;
    while (true) {
        char c = 0;
        DWORD n = 0;
        if (!ReadFile(h, &c, 1, &n, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;
            return fail(os_error(code));
        }
        if (n == 0) break;
        line += c;
        if (c == '\n') break;
    }
    if (line.empty()) return std::optional<std::string>();
    return std::optional<std::string>(std::move(line));
}

}  // namespace kiln::platform
