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

namespace {

// Lists a directory without "." and "..". With sizes, every entry is examined with lstat;
// without, the entry types that readdir reports make that call unnecessary except on file
// systems that do not record them, and a metadata call per entry dominates the cost of
// listing large directories.
OsResult<std::vector<DirEntry>> read_dir(const std::string& path, bool with_sizes) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return fail(last_error());
    std::vector<DirEntry> entries;
    entries.reserve(64);
    const int dfd = ::dirfd(dir);
    while (true) {
        errno = 0;
        const dirent* ent = ::readdir(dir);
        if (ent == nullptr) break;
        const std::string_view name(ent->d_name);
        if (name == "." || name == "..") continue;
        if (with_sizes || ent->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dfd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            const auto size = with_sizes ? static_cast<std::uint64_t>(st.st_size) : 0;
            entries.push_back({std::string(name), S_ISDIR(st.st_mode), S_ISLNK(st.st_mode), size});
        } else {
            entries.push_back({std::string(name), ent->d_type == DT_DIR, ent->d_type == DT_LNK, 0});
        }
    }
    const int read_errno = errno;
    ::closedir(dir);
    if (read_errno != 0) return fail(OsError{read_errno, std::strerror(read_errno)});
    return entries;
}

}  // namespace

OsResult<std::vector<DirEntry>> list_dir(const std::string& path) {
    return read_dir(path, true);
}

OsResult<std::vector<DirEntry>> list_dir_names(const std::string& path) {
    return read_dir(path, false);
}

}  // namespace kiln::platform
