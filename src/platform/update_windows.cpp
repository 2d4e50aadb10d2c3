// Updating a small file in place on Windows: its two ends read without the middle, and its
// replacement by a new file moved over it, under a named mutex that updaters share.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include <algorithm>

#include "platform/platform.hpp"

namespace kiln::platform {

using namespace detail;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Up to `size` bytes from `offset`, fewer at end of file.
OsResult<std::string> read_at(HANDLE h, std::uint64_t offset, std::size_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return fail(last_error());
    std::string out(size, '\0');
    std::size_t used = 0;
    while (used < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - used, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(h, out.data() + used, chunk, &n, nullptr)) return fail(last_error());
        if (n == 0) break;
        used += n;
    }
    out.resize(used);
    return out;
}

OsResult<FileEnds> ends_of(HANDLE h, std::size_t head, std::size_t tail) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) return fail(last_error());
    FileEnds ends;
    const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
    if (bytes <= tail) {
        // A small file costs its own size, not a buffer of `tail` bytes.
        auto all = read_at(h, 0, static_cast<std::size_t>(bytes));
        if (!all) return fail(all.error());
        ends.tail = std::move(*all);
        ends.head = ends.tail.substr(0, head);
        return ends;
    }
    auto first = read_at(h, 0, head);
    if (!first) return fail(first.error());
    auto last = read_at(h, bytes - tail, tail);
    if (!last) return fail(last.error());
    ends.head = std::move(*first);
    ends.tail = std::move(*last);
    ends.whole = false;
    return ends;
}

// Every updater of one file waits for the same named mutex, named after the file's full path
// (compared without case, as the file system does). One that does not let go within seconds
// (it hangs) makes the update fail, well inside the time a closing console allows.
class UpdateLock {
public:
    explicit UpdateLock(const std::string& path) {
        const std::wstring full = lowercase(wide(path));
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (wchar_t c : full)
            hash = (hash ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
        std::wstring name = L"Local\\kiln-update-";
        for (int shift = 60; shift >= 0; shift -= 4)
            name += L"0123456789abcdef"[(hash >> shift) & 0xf];
        mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
        if (mutex_ == nullptr) return;
        const DWORD waited = WaitForSingleObject(mutex_, 3000);
        owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~UpdateLock() {
        if (owned_) ReleaseMutex(mutex_);
        if (mutex_ != nullptr) CloseHandle(mutex_);
    }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;
    bool owned() const { return owned_; }

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

std::wstring full_path(const std::string& path) {
    const std::wstring w = wide(path);
    const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0) return w;
    std::wstring out(n, L'\0');
    const DWORD used = GetFullPathNameW(w.c_str(), n, out.data(), nullptr);
    out.resize(used < n ? used : 0);
    return out.empty() ? w : out;
}

// Writes the text to a new file beside `target` and moves it over `target`.
OsResult<void> replace_with(const std::wstring& target, std::string_view text) {
    const std::wstring temp = target + L".new-" + std::to_wstring(GetCurrentProcessId());
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(last_error());
    auto written = write_handle(h, text);
    if (written && !FlushFileBuffers(h)) written = fail(last_error());
    CloseHandle(h);
    if (written && !MoveFileExW(temp.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        written = fail(last_error());
    }
    if (!written) DeleteFileW(temp.c_str());
    return written;
}

}  // namespace

OsResult<std::optional<FileEnds>> read_file_ends(const std::string& path, std::size_t head,
                                                 std::size_t tail) {
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return std::optional<FileEnds>();
        return fail(os_error(code));
    }
    auto ends = ends_of(h, head, tail);
    CloseHandle(h);
    if (!ends) return fail(ends.error());
    return std::optional<FileEnds>(std::move(*ends));
}

OsResult<void> update_file(const std::string& path, std::size_t head, std::size_t tail,
                           const std::function<std::string(const FileEnds&)>& rewrite) {
    const std::wstring full = full_path(path);
    const UpdateLock lock(narrow(full));
    if (!lock.owned()) return fail(os_error(ERROR_TIMEOUT));
    auto ends = read_file_ends(narrow(full), head, tail);
    if (!ends) return fail(ends.error());
    return replace_with(full, rewrite(ends->value_or(FileEnds{})));
}

}  // namespace kiln::platform
