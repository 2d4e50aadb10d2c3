// Updating a small file in place on POSIX systems: its two ends read without the middle, and
// its replacement by a new file renamed over it, under a lock that updaters share.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {
namespace {

using detail::last_error;
using detail::write_fd;

// Up to `size` bytes from `offset`, fewer at end of file.
OsResult<std::string> read_at(int fd, std::uint64_t offset, std::size_t size) {
    std::string out(size, '\0');
    std::size_t used = 0;
    while (used < size) {
        const ssize_t n =
            ::pread(fd, out.data() + used, size - used, static_cast<off_t>(offset + used));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(last_error());
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    out.resize(used);
    return out;
}

OsResult<FileEnds> ends_of(int fd, std::size_t head, std::size_t tail) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(last_error());
    FileEnds ends;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // Something that is not a regular file (a device, a pipe) has no end to start from: its
    // first bytes stand for the whole.
    if (!S_ISREG(st.st_mode) || size <= tail) {
        // A small file costs its own size, not a buffer of `tail` bytes.
        auto all = read_at(fd, 0, S_ISREG(st.st_mode) ? static_cast<std::size_t>(size) : tail);
        if (!all) return fail(all.error());
        ends.tail = std::move(*all);
        ends.whole = ends.tail.size() < tail || S_ISREG(st.st_mode);
        ends.head = ends.tail.substr(0, head);
        return ends;
    }
    auto first = read_at(fd, 0, head);
    if (!first) return fail(first.error());
    auto last = read_at(fd, size - tail, tail);
    if (!last) return fail(last.error());
    ends.head = std::move(*first);
    ends.tail = std::move(*last);
    ends.whole = false;
    return ends;
}

bool same_file(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// The file opened for reading (created empty, for the owner only, when missing) and locked
// against other updaters. Each update renames a new file over the path, so the lock taken on
// a file that has meanwhile been replaced is let go and taken again on the new one. A holder
// that does not let go within seconds (it hangs) makes the update fail rather than wait.
OsResult<Handle> open_locked(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (true) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) return fail(last_error());
        Handle file(fd);
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (same_file(fd, path)) return file;
            continue;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return fail(last_error());
        if (std::chrono::steady_clock::now() > deadline)
            return fail(OsError{EWOULDBLOCK, "the file stays locked by another process"});
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The path of the file itself when `path` is a link to it.
std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// Writes the text to a new file beside `target` and renames it over `target`.
OsResult<void> replace_with(const std::string& target, std::string_view text) {
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created for the owner only
    if (fd < 0) return fail(last_error());
    const Handle file(fd);
    auto written = write_fd(fd, text);
    // The bytes reach the disk before the name does, so a crash cannot leave an empty file.
    if (written && ::fsync(fd) != 0) written = fail(last_error());
    if (written && ::rename(temp.c_str(), target.c_str()) != 0) written = fail(last_error());
    if (!written) ::unlink(temp.c_str());
    return written;
}

}  // namespace

OsResult<std::optional<FileEnds>> read_file_ends(const std::string& path, std::size_t head,
                                                 std::size_t tail) {
    // Without waiting for a writer should the path name a FIFO.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return std::optional<FileEnds>();
    if (fd < 0) return fail(last_error());
    const Handle file(fd);
    auto ends = ends_of(fd, head, tail);
    if (!ends) return fail(ends.error());
    return std::optional<FileEnds>(std::move(*ends));
}

OsResult<void> update_file(const std::string& path, std::size_t head, std::size_t tail,
                           const std::function<std::string(const FileEnds&)>& rewrite) {
    auto locked = open_locked(path);
    if (!locked) return fail(locked.error());
    // Only a regular file is replaced: a link to /dev/null, say, keeps the history away.
    struct stat st {};
    if (::fstat(detail::fd_of(*locked), &st) != 0) return fail(last_error());
    if (!S_ISREG(st.st_mode)) return fail(OsError{EINVAL, "not a regular file"});
    auto ends = ends_of(detail::fd_of(*locked), head, tail);
    if (!ends) return fail(ends.error());
    return replace_with(resolved(path), rewrite(*ends));
}

}  // namespace kiln::platform
