// Held output on POSIX systems: a string while it is small, an anonymous memory file on Linux
// once it is large, moved in from and out to pipes by the kernel (splice and sendfile).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <utility>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {
namespace {

using detail::fd_of;
using detail::last_error;
using detail::write_fd;

// An output grows in the string up to this size before it moves into a memory file: most
// captures are a few lines, and a file costs a few system calls to make and map.
constexpr std::size_t kSpill = std::size_t{1} << 20;
// The most that one splice or sendfile moves.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// A new, empty memory file; absent where the system has none.
Handle make_memory_file() {
#ifdef __linux__
    const int fd = ::memfd_create("kiln-spool", MFD_CLOEXEC);
    if (fd >= 0) return Handle(fd);
#endif
    return Handle();
}

// Reads from `fd` into `text` until end of file or until it holds `limit` bytes; true at end
// of file.
OsResult<bool> read_some(int fd, std::string& text, std::size_t limit) {
    char chunk[65536];
    while (text.size() < limit) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

// Passes the first `size` bytes of the file at `fd` to `sink` in pieces, without mapping it.
template <class Sink>
OsResult<void> copy_out(int fd, std::size_t size, Sink sink) {
    char chunk[65536];
    off_t pos = 0;
    while (static_cast<std::size_t>(pos) < size) {
        const std::size_t left = size - static_cast<std::size_t>(pos);
        const ssize_t n = ::pread(fd, chunk, left < sizeof chunk ? left : sizeof chunk, pos);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(last_error());
        if (n == 0) return {};
        if (auto r = sink(std::string_view(chunk, static_cast<std::size_t>(n))); !r) return r;
        pos += n;
    }
    return {};
}

}  // namespace

Spool::Spool(Spool&& other) noexcept
    : text_(std::move(other.text_)),
      file_(std::move(other.file_)),
      file_size_(std::exchange(other.file_size_, 0)),
      map_(std::exchange(other.map_, nullptr)) {
    other.text_.clear();
}

Spool& Spool::operator=(Spool&& other) noexcept {
    if (this != &other) {
        unmap();
        text_ = std::move(other.text_);
        other.text_.clear();
        file_ = std::move(other.file_);
        file_size_ = std::exchange(other.file_size_, 0);
        map_ = std::exchange(other.map_, nullptr);
    }
    return *this;
}

Spool::~Spool() {
    unmap();
}

void Spool::unmap() {
    if (map_ != nullptr) ::munmap(const_cast<char*>(map_), file_size_);
    map_ = nullptr;
}

OsResult<void> Spool::append(std::string_view bytes) {
    if (!in_file()) {
        text_.append(bytes);
        return {};
    }
    unmap();
    while (!bytes.empty()) {
        const ssize_t n =
            ::pwrite(fd_of(file_), bytes.data(), bytes.size(), static_cast<off_t>(file_size_));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        file_size_ += static_cast<std::size_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

OsResult<void> Spool::append(std::string&& bytes) {
    if (empty() && !in_file()) {
        text_ = std::move(bytes);
        return {};
    }
    return append(std::string_view(bytes));
}

OsResult<void> Spool::append(Spool&& other) {
    if (empty()) {
        *this = std::move(other);
        return {};
    }
    return append(other.view());
}

std::string_view Spool::view() {
    if (!in_file()) return text_;
    if (map_ == nullptr && file_size_ > 0) {
        void* p = ::mmap(nullptr, file_size_, PROT_READ, MAP_SHARED, fd_of(file_), 0);
        if (p == MAP_FAILED) {
            // No address space for a mapping: the bytes come back into the string.
            std::string bytes;
            (void)copy_out(fd_of(file_), file_size_, [&](std::string_view part) {
                bytes.append(part);
                return OsResult<void>();
            });
            *this = Spool(std::move(bytes));
            return text_;
        }
        map_ = static_cast<const char*>(p);
    }
    return {map_, file_size_};
}

std::string Spool::take() {
    std::string out = in_file() ? std::string(view()) : std::move(text_);
    *this = Spool();
    return out;
}

OsResult<void> read_all(const Handle& handle, Spool& out) {
    const int fd = fd_of(handle);
    if (!out.in_file()) {
        auto done = read_some(fd, out.text_, kSpill);
        if (!done) return fail(done.error());
        if (*done) return {};
        // Large: the rest goes into a memory file, after what the string holds.
        Handle file = make_memory_file();
        if (!file.valid() || !write_fd(fd_of(file), out.text_)) {
            auto rest = read_some(fd, out.text_, static_cast<std::size_t>(-1));
            if (!rest) return fail(rest.error());
            return {};
        }
        out.file_size_ = out.text_.size();
        out.file_ = std::move(file);
        std::string().swap(out.text_);
    }
    out.unmap();
#ifdef __linux__
    while (true) {
        loff_t end = static_cast<loff_t>(out.file_size_);
        const ssize_t n = ::splice(fd, nullptr, fd_of(out.file_), &end, kChunk, 0);
        if (n == 0) return {};
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        out.file_size_ += static_cast<std::size_t>(n);
    }
#else
    std::string rest;
    auto done = read_some(fd, rest, static_cast<std::size_t>(-1));
    (void)out.append(rest);
    if (!done) return fail(done.error());
    return {};
#endif
}

OsResult<void> write_all(const Handle& handle, const Spool& bytes) {
    if (!bytes.in_file()) return write_fd(fd_of(handle), bytes.text_);
#ifdef __linux__
    off_t pos = 0;
    while (static_cast<std::size_t>(pos) < bytes.file_size_) {
        const std::size_t left = bytes.file_size_ - static_cast<std::size_t>(pos);
        const ssize_t n =
            ::sendfile(fd_of(handle), fd_of(bytes.file_), &pos, left < kChunk ? left : kChunk);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS) && pos == 0) break;  // not offered
        if (n == 0) return {};
        return fail(last_error());
    }
    if (pos != 0) return {};
#endif
    return copy_out(fd_of(bytes.file_), bytes.file_size_,
                    [&](std::string_view part) { return write_fd(fd_of(handle), part); });
}

}  // namespace kiln::platform
