// Directory listings on Windows.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include "platform/platform.hpp"
#include "platform/win_text.hpp"

namespace kiln::platform {

using namespace detail;

OsResult<std::vector<DirEntry>> list_dir(const std::string& path) {
    std::string pattern = path.empty() ? std::string(".") : path;
    // A bare drive ("C:") stands for that drive's current directory: "C:*", not "C:\*".
    const bool bare_drive = pattern.size() == 2 && win::prefix_length(pattern) == 2;
    if (!is_separator(pattern.back()) && !bare_drive) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW(sys_path(pattern).c_str(), FindExInfoBasic, &data,
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
        const bool hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        entries.push_back({narrow(wname), dir, link, size, hidden});
    } while (FindNextFileW(find, &data));
    const DWORD code = GetLastError();
    FindClose(find);
    if (code != ERROR_NO_MORE_FILES) return fail(os_error(code));
    return entries;
}

// Without sizes: the directory enumeration reports them anyway.
OsResult<std::vector<DirEntry>> list_dir_names(const std::string& path) {
    return list_dir(path);
}

}  // namespace kiln::platform
