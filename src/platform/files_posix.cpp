// Files and pipes on POSIX systems: metadata, whole-file reads, redirection targets, pipes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {
namespace {
using detail::fd_of;
using detail::last_error;
using detail::write_fd;
}  // namespace

FileKind file_kind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    if (S_ISDIR(st.st_mode)) return FileKind::Directory;
    return FileKind::Other;
}

namespace {

// Buffers from this size on are treated as large.
constexpr std::size_t kLarge = std::size_t{4} << 20;

// Asks for huge pages for a large file's buffer, where the system offers them on request: a
// gigabyte read into memory then takes a few hundred page faults instead of a quarter million.
// Only whole-file reads ask: while a child fills a pipe, clearing 2 MiB at a time stalls both
// sides, and measured slower than small pages.
void advise_huge_pages(std::string& buffer) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kPage = 4096;
    const auto base = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t start = (base + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (base + buffer.capacity()) & ~(kPage - 1);
    if (end > start) (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)buffer;
#endif
}

// Maps the pages of a span about to be written in one call rather than one fault per page, on
// systems that offer it; a quarter of the time of reading a large pipe went to those faults.
void prefault(char* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::uintptr_t kPage = 4096;
    const auto base = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t start = (base + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (base + size) & ~(kPage - 1);
    if (end > start)
        (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
#endif
}

// Grows a large buffer eightfold, or twofold when the bound or the system will not lend that
// much; false when neither fits. Capacity that is never written costs no memory, while every
// copy touches fresh pages, which is what costs time: a gigabyte read from a pipe is copied a
// third of a gigabyte instead of a whole one.
bool grow_large(std::string& out) {
    std::string next;
    for (const std::size_t factor : {8, 2}) {
        const std::size_t size = out.capacity() * factor;
        if (!may_hold(size)) continue;
        try {
            next.reserve(size);
            break;
        } catch (const std::bad_alloc&) {
        }
    }
    if (next.capacity() <= out.capacity()) return false;
    next.append(out);
    out.swap(next);
    return true;
}

// Opens, waiting as long as the system waits (for the other side of a FIFO) unless Ctrl-C
// ends the wait.
OsResult<int> open_fd(const std::string& path, int flags, mode_t mode = 0) {
    while (true) {
        const int fd = ::open(path.c_str(), flags, mode);
        if (fd >= 0) return fd;
        if (errno != EINTR) return fail(last_error());
        if (interrupt_pending()) return fail(interrupted());
    }
}

OsResult<void> read_into(int fd, std::string& out, bool prefault_steps);

}  // namespace

namespace {

// Opens an existing file for reading and reads its metadata into `st`. A directory opens, but
// a program given one as its input could not read it: it is refused as reading it fails.
OsResult<Handle> open_readable(const std::string& path, struct stat& st) {
    auto opened = open_fd(path, O_RDONLY | O_CLOEXEC);
    if (!opened) return fail(opened.error());
    Handle file(*opened);
    if (::fstat(*opened, &st) == 0 && S_ISDIR(st.st_mode))
        return fail(OsError{EISDIR, std::strerror(EISDIR)});
    return file;
}

// The rest of an open file whose metadata is `st`; a regular file's buffer is sized at once.
OsResult<std::string> read_rest(int fd, const struct stat& st) {
    std::string bytes;
    bool huge = false;
    if (S_ISREG(st.st_mode)) {
        const auto size = static_cast<std::size_t>(st.st_size);
        if (size >= kBoundedFrom && !may_hold(size)) return fail(too_large(size));
        bytes.reserve(size);
        huge = bytes.capacity() >= kLarge;
        if (huge) advise_huge_pages(bytes);
    }
    if (auto r = read_into(fd, bytes, !huge); !r) return fail(r.error());
    return bytes;
}

}  // namespace

OsResult<Handle> open_for_read(const std::string& path) {
    struct stat st {};
    return open_readable(path, st);
}

OsResult<std::string> read_file(const Handle& file) {
    struct stat st {};
    (void)::fstat(fd_of(file), &st);
    return read_rest(fd_of(file), st);
}

OsResult<std::string> read_file(const std::string& path) {
    struct stat st {};
    auto file = open_readable(path, st);
    if (!file) return fail(file.error());
    return read_rest(fd_of(*file), st);
}

bool is_same_file(const Handle& file, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd_of(file), &open) == 0 && S_ISREG(open.st_mode) &&
           ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

void Handle::close() {
    if (native_ != -1) ::close(static_cast<int>(std::exchange(native_, -1)));
}

OsResult<Handle> open_for_write(const std::string& path, bool append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    auto fd = open_fd(path, flags, 0666);
    if (!fd) return fail(fd.error());
    return Handle(*fd);
}

namespace detail {
OsResult<void> write_fd(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}
}  // namespace detail

OsResult<void> write_all(const Handle& handle, std::string_view bytes) {
    return write_fd(fd_of(handle), bytes);
}

namespace {

// Appends everything up to end of input. With prefault_steps, each large step's pages are
// mapped in one call; a buffer given huge pages is not, which measured five times slower.
// Ctrl-C and the memory bound end the read, so that an endless input ends it too.
OsResult<void> read_into(int fd, std::string& out, bool prefault_steps) {
    // The string is grown ahead of the bytes in steps of up to 1 MiB and cut back to what was
    // read at the end: each byte of spare capacity is zero-filled once, just before the data
    // reaches it, so that memory is touched only as data arrives.
    constexpr std::size_t kStep = std::size_t{1} << 20;
    char probe[16384];
    std::size_t used = out.size();
    while (true) {
        if (interrupt_pending()) {
            out.resize(used);
            return fail(interrupted());
        }
        if (used == out.size()) {
            const std::size_t spare = out.capacity() - used;
            if (spare < sizeof probe) {
                // Nearly full, as a file read into a buffer of its own size ends, or still
                // small: read into the stack first, so that end of input never grows the
                // buffer and small outputs are not read a few bytes at a time.
                const ssize_t n = ::read(fd, probe, sizeof probe);
                if (n == 0) return {};
                if (n < 0) {
                    if (errno == EINTR) continue;
                    return fail(last_error());
                }
                if (out.capacity() >= kLarge && !grow_large(out)) return fail(too_large(used));
                out.append(probe, static_cast<std::size_t>(n));
                used = out.size();
                continue;
            }
            const std::size_t step = std::min(spare, kStep);
            if (prefault_steps && step >= kStep / 4) prefault(out.data() + used, step);
            out.resize(used + step);
        }
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            const OsError error = last_error();
            out.resize(used);  // the bytes read before the error stay
            return fail(error);
        }
        if (n == 0) {
            out.resize(used);
            return {};
        }
        used += static_cast<std::size_t>(n);
    }
}

}  // namespace

OsResult<void> read_all(const Handle& handle, std::string& out) {
    return read_into(fd_of(handle), out, true);
}

OsResult<PipeEnds> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return fail(last_error());
#ifdef F_SETPIPE_SZ
    // A larger pipe moves a command's input and output in fewer, larger steps; the system's
    // default size stays when it refuses.
    (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
#endif
    return PipeEnds{Handle(fds[0]), Handle(fds[1])};
}

}  // namespace kiln::platform
