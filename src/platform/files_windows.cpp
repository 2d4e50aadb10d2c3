// Files and pipes on Windows: metadata, whole-file reads, redirection targets, anonymous pipes.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include <algorithm>

#include "platform/platform.hpp"

namespace kiln::platform {

namespace detail {

bool is_file(const std::string& path) {
    const DWORD attr = GetFileAttributesW(sys_path(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

OsResult<void> write_handle(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) return fail(last_error());
        bytes.remove_prefix(written);
    }
    return {};
}

}  // namespace detail

using namespace detail;

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD attributes(const std::string& path) {
    return GetFileAttributesW(sys_path(path).c_str());
}

// What one ReadFile asks for when a whole stream is read.
constexpr std::size_t kChunk = 1 << 16;

OsResult<void> read_handle(HANDLE h, std::string& out, bool interruptible);

HANDLE open_existing(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileW(sys_path(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags,
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

OsResult<Handle> open_for_read(const std::string& path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open: access is denied.
    HANDLE h = open_existing(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return fail(last_error());
    return Handle(reinterpret_cast<std::intptr_t>(h));
}

OsResult<std::string> read_file(const Handle& file) {
    const HANDLE h = handle_of(file);
    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        const auto whole = static_cast<std::size_t>(size.QuadPart);
        // Room for the last, empty read too, so that the end of the file costs no doubling.
        if (whole >= kBoundedFrom && !may_hold(whole + kChunk)) return fail(too_large(whole));
        bytes.reserve(whole + kChunk);
    }
    if (auto r = read_handle(h, bytes, true); !r) return fail(r.error());
    return bytes;
}

bool is_same_file(const Handle& file, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION open{};
    if (GetFileType(handle_of(file)) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle_of(file), &open)) {
        return false;
    }
    HANDLE h = open_existing(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION named{};
    const bool ok = GetFileInformationByHandle(h, &named) != 0;
    CloseHandle(h);
    return ok && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
}

OsResult<std::string> read_file(const std::string& path) {
    auto file = open_for_read(path);
    if (!file) return fail(file.error());
    return read_file(*file);
}

void Handle::close() {
    if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(std::exchange(native_, -1)));
}

OsResult<Handle> open_for_write(const std::string& path, bool append) {
    // Appending handles lack FILE_WRITE_DATA, so the system puts every write at the end.
    const DWORD access = append ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
    HANDLE h = CreateFileW(sys_path(path).c_str(), access, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(last_error());
    Handle handle(reinterpret_cast<std::intptr_t>(h));
    // OPEN_ALWAYS and an explicit truncation, unlike CREATE_ALWAYS, also work on hidden files.
    // Only a disk file is truncated: devices such as NUL and CON have no end to set.
    if (!append && GetFileType(h) == FILE_TYPE_DISK && !SetEndOfFile(h)) return fail(last_error());
    return handle;
}

OsResult<void> write_all(const Handle& handle, std::string_view bytes) {
    return write_handle(handle_of(handle), bytes);
}

namespace {
// Appends everything up to end of file. The memory bound ends the read, and so does Ctrl-C
// when `interruptible` (a file read whole, not a child's output: the child gets the Ctrl-C
// itself and ends its output).
OsResult<void> read_handle(HANDLE h, std::string& out, bool interruptible) {
    while (true) {
        if (interruptible && interrupt_pending()) return fail(interrupted());
        const std::size_t old = out.size();
        if (!may_grow(out, kChunk)) return fail(too_large(old));
        out.resize(old + kChunk);
        DWORD n = 0;
        const BOOL ok = ReadFile(h, out.data() + old, kChunk, &n, nullptr);
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
}  // namespace

OsResult<void> read_all(const Handle& handle, std::string& out) {
    return read_handle(handle_of(handle), out, false);
}

OsResult<PipeEnds> make_pipe() {
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, 0)) return fail(last_error());
    return PipeEnds{Handle(reinterpret_cast<std::intptr_t>(r)),
                    Handle(reinterpret_cast<std::intptr_t>(w))};
}

}  // namespace kiln::platform
