// Directory listings on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {

using detail::last_error;

OsResult<std::vector<DirEntry>> list_dir(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return fail(last_error());
    std::vector<DirEntry> entries;
    const int dfd = ::dirfd(dir);
    while (true) {
        errno = 0;
        const dirent* ent = ::readdir(dir);
        if (ent == nullptr) break;
        const std::string_view name(ent->d_name);
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(dfd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries.push_back({std::string(name), S_ISDIR(st.st_mode), S_ISLNK(st.st_mode),
                           static_cast<std::uint64_t>(st.st_size)});
    }
    const int read_errno = errno;
    ::closedir(dir);
    if (read_errno != 0) return fail(OsError{read_errno, std::strerror(read_errno)});
    return entries;
}

// Without sizes, the entry types that readdir reports make a metadata call per entry
// unnecessary, which dominates the cost of listing large directories.
OsResult<std::vector<DirEntry>> list_dir_names(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        const int code = errno;
        return fail(OsError{code, std::strerror(code)});
    }
    std::vector<DirEntry> entries;
    const int dfd = ::dirfd(dir);
    while (true) {
        errno = 0;
        const dirent* ent = ::readdir(dir);
        if (ent == nullptr) break;
        const std::string_view name(ent->d_name);
        if (name == "." || name == "..") continue;
        unsigned char type = ent->d_type;
        if (type == DT_UNKNOWN) {  // some file systems do not record the type
            struct stat st {};
            if (::fstatat(dfd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        entries.push_back({std::string(name), type == DT_DIR, type == DT_LNK, 0});
    }
    const int read_errno = errno;
    ::closedir(dir);
    if (read_errno != 0) return fail(OsError{read_errno, std::strerror(read_errno)});
    return entries;
}

}  // namespace kiln::platform
