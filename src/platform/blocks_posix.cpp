// Growing blocks on POSIX systems: a large block is a mapping of its own, which grows by
// moving its pages (mremap on Linux) and goes back to the system whole when freed.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.hpp"

namespace kiln::platform {
namespace {

// Below this a block lives in the heap, where a small one is cheaper.
constexpr std::size_t kMapped = std::size_t{256} << 10;

std::size_t page_rounded(std::size_t size) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

void* map(std::size_t size) {
    void* p = ::mmap(nullptr, page_rounded(size), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

void* resize_block(void* block, std::size_t size, std::size_t new_size) {
    if (new_size < kMapped) return std::realloc(block, new_size);
    if (size < kMapped) {
        void* mapped = map(new_size);
        if (!mapped) return nullptr;
        if (block) std::memcpy(mapped, block, size);
        std::free(block);
        return mapped;
    }
#ifdef MREMAP_MAYMOVE
    void* moved = ::mremap(block, page_rounded(size), page_rounded(new_size), MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
#else
    void* mapped = map(new_size);
    if (!mapped) return nullptr;
    std::memcpy(mapped, block, size);
    ::munmap(block, page_rounded(size));
    return mapped;
#endif
}

void free_block(void* block, std::size_t size) {
    if (size < kMapped) {
        std::free(block);
    } else {
        ::munmap(block, page_rounded(size));
    }
}

}  // namespace kiln::platform
