// Growing blocks on Windows: the heap's, which serves a large block from pages of its own.
#include <cstdlib>

#include "platform/platform.hpp"

namespace kiln::platform {

void* resize_block(void* block, std::size_t, std::size_t new_size) {
    return std::realloc(block, new_size);
}

void free_block(void* block, std::size_t) {
    std::free(block);
}

}  // namespace kiln::platform
