// Held output on POSIX systems: a string while it is small, then a mapping of its own, read
// into straight from a pipe and lent to the next pipe by reference.
#include <fcntl.h>  // vmsplice
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/platform.hpp"
#include "platform/posix_detail.hpp"

namespace kiln::platform {
namespace {

using detail::fd_of;
using detail::last_error;
using detail::write_fd;

// An output grows in the string up to this size before it moves into a mapping: most outputs
// are a few lines, and a mapping costs a few system calls to make and free.
constexpr std::size_t kSpill = std::size_t{1} << 20;
// The unit of a mapping's size and of what is freed behind a feed.
constexpr std::size_t kUnit = std::size_t{2} << 20;

constexpr std::size_t kPage = 4096;

// Maps in the pages of a span about to be written, in one call.
void prefault(char* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    (void)::madvise(data, size, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
#endif
}

std::size_t round_up(std::size_t n, std::size_t unit) {
    return (n + unit - 1) / unit * unit;
}

// A new read-write mapping of `size` bytes (a multiple of kUnit) at a kUnit boundary, or
// null. It asks for huge pages: the per-page work of small pages (a fault, a charge, a list
// entry and a reference per 4 KiB, and again to free them) was most of what the shell itself
// spent on a pipeline of programs. bench/pipeline.sh pays for it: in its mid3x5 row (three
// /bin/cat stages of 100 MiB, 5 times) the CPU time went from 2.5 to 1.6 times dash's, what
// is left being the zero-filling of the held bytes' memory. Where huge pages are switched off
// the system silently gives small pages.
char* map_region(std::size_t size) {
    void* p = ::mmap(nullptr, size + kUnit, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Trims the slack so that the mapping starts and ends on unit boundaries, which huge
    // pages need and which the feed frees by.
    char* start = static_cast<char*>(p);
    char* aligned =
        reinterpret_cast<char*>(round_up(reinterpret_cast<std::uintptr_t>(start), kUnit));
    if (aligned != start) ::munmap(start, static_cast<std::size_t>(aligned - start));
    if (const std::size_t tail = static_cast<std::size_t>(start + kUnit - aligned); tail > 0)
        ::munmap(aligned + size, tail);
#ifdef MADV_HUGEPAGE
    (void)::madvise(aligned, size, MADV_HUGEPAGE);
#endif
    return aligned;
}

}  // namespace

Spool::Spool(Spool&& other) noexcept
    : text_(std::exchange(other.text_, {})),
      region_(std::exchange(other.region_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Spool& Spool::operator=(Spool&& other) noexcept {
    if (this != &other) {
        release();
        text_ = std::exchange(other.text_, {});
        region_ = std::exchange(other.region_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

Spool::~Spool() {
    release();
}

void Spool::release() {
    if (region_ != nullptr) ::munmap(region_, capacity_);
    region_ = nullptr;
    size_ = capacity_ = 0;
}

// Makes room in a mapping for `more` bytes after the end, moving the string into a new
// mapping first; a mapping grows fourfold, moved by the system without copying its pages.
// False when the memory bound or the system lends no more. A child's output past its first
// megabyte, and anything appended to a mapping, is made room for only here: the place where
// the bound on held output applies.
bool Spool::reserve(std::size_t more) {
    if (!in_region()) {
        const std::size_t size = round_up(4 * (text_.size() + more), kUnit);
        if (!may_hold(size)) return false;
        char* region = map_region(size);
        if (region == nullptr) return false;
        std::memcpy(region, text_.data(), text_.size());
        size_ = text_.size();
        std::string().swap(text_);
        region_ = region;
        capacity_ = size;
        return true;
    }
    if (size_ + more <= capacity_) return true;
    // Fourfold, or by less as the bound or the address space runs short, so that the last
    // steps before the bound stay few. The system picks the new place; for a length of whole
    // units, recent Linux puts it on a unit boundary, so the huge pages move whole.
    const std::size_t need = size_ + more;
    for (const std::size_t grown : {4 * need, 2 * need, need + need / 8, need + need / 64, need}) {
        const std::size_t size = round_up(grown, kUnit);
        if (!may_hold(size - capacity_)) continue;
        void* p = ::mremap(region_, capacity_, size, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) continue;
        region_ = static_cast<char*>(p);
        capacity_ = size;
        return true;
    }
    return false;
}

bool Spool::small_enough(std::size_t more) const {
    return !in_region() && text_.size() + more <= kSpill;
}

// Bytes from the shell itself stay where the spool's bytes are: only a child's output, read
// by read_all, starts a mapping.
OsResult<void> Spool::append(std::string_view bytes) {
    if (!in_region()) {
        if (!may_grow(text_, bytes.size())) return fail(too_large(text_.size()));
        text_.append(bytes);
    } else if (reserve(bytes.size())) {
        std::memcpy(region_ + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
    } else {
        return fail(too_large(size_));
    }
    return {};
}

OsResult<void> Spool::append(std::string&& bytes) {
    if (empty()) {
        *this = Spool(std::move(bytes));
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

std::string_view Spool::view() const {
    if (in_region()) return {region_, size_};
    return text_;
}

std::string Spool::take() {
    std::string out = in_region() ? std::string(view()) : std::move(text_);
    *this = Spool();
    return out;
}

OsResult<void> read_all(const Handle& handle, Spool& out) {
    // Reads go straight to the end of the mapping, each step's pages mapped in by one call
    // rather than one fault each; while the output is small, through the stack into the
    // string.
    constexpr std::size_t kStep = std::size_t{1} << 20;
    char chunk[65536];
    const int fd = fd_of(handle);
    std::size_t ready = 0;  // the mapping's bytes from the start that are mapped in
    while (true) {
        const bool direct = !out.small_enough(kStep) && out.reserve(kStep);
        if (!direct && !out.small_enough(kStep)) return fail(too_large(out.size()));
        if (direct && ready < out.size_ + kStep) {
            ready = std::max(ready, out.size_ / kPage * kPage);
            const std::size_t end = std::min(ready + kStep, out.capacity_);
            prefault(out.region_ + ready, end - ready);
            ready = end;
        }
        char* to = direct ? out.region_ + out.size_ : chunk;
        const ssize_t n = ::read(fd, to, direct ? ready - out.size_ : sizeof chunk);
        if (n == 0) return {};
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(last_error());
        }
        if (direct) {
            out.size_ += static_cast<std::size_t>(n);
        } else {
            out.text_.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

OsResult<void> write_all(const Handle& handle, const Spool& bytes) {
    return write_fd(fd_of(handle), bytes.view());
}

OsResult<void> write_all(const Handle& handle, Spool&& bytes) {
    if (!bytes.in_region()) return write_fd(fd_of(handle), bytes.text_);
#ifdef __linux__
    // Into a pipe the pages are lent, not copied: the pipe holds them until the reader has
    // taken the bytes, so every unit already lent is unmapped behind the feed, and the
    // input's memory is given back while the next stage's output grows.
    std::size_t pos = 0;
    while (pos < bytes.size_) {
        iovec part{bytes.region_ + pos, bytes.size_ - pos};
        const ssize_t n = ::vmsplice(fd_of(handle), &part, 1, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (pos == 0 && (errno == EBADF || errno == EINVAL)) break;  // not a pipe
            return fail(last_error());
        }
        pos += static_cast<std::size_t>(n);
        const std::size_t lent = pos / kUnit * kUnit;
        if (lent > 0) {
            ::munmap(bytes.region_, lent);
            bytes.region_ += lent;
            bytes.capacity_ -= lent;
            bytes.size_ -= lent;
            pos -= lent;
        }
    }
    if (pos != 0 || bytes.size_ == 0) {
        bytes.release();
        return {};
    }
#endif
    auto written = write_fd(fd_of(handle), bytes.view());
    bytes.release();
    return written;
}

}  // namespace kiln::platform
