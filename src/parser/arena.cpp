// Tree arenas and the cache of blocks under them.
#include "parser/arena.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace kiln {
namespace {

// Keeps blocks that arenas release and hands them out again for requests of the same size.
// An arena asks for blocks of growing sizes, always the same sequence, so a parse of the
// next text finds the blocks of the last one. Without it, every block of a large tree would
// be mapped afresh by the system and faulted in page by page (paid for by the parse-only and
// sourced-script shapes of bench/language.sh).
class BlockCache final : public std::pmr::memory_resource {
public:
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() override {
        for (const Block& block : free_)
            upstream()->deallocate(block.p, block.size, block.align);
    }

private:
    struct Block {
        void* p;
        std::size_t size;
        std::size_t align;
    };
    static constexpr std::size_t kMaxCached = std::size_t{32} << 20;  // bytes kept at most

    static std::pmr::memory_resource* upstream() { return std::pmr::new_delete_resource(); }

    void* do_allocate(std::size_t size, std::size_t align) override {
        const auto it = std::find_if(free_.begin(), free_.end(), [&](const Block& block) {
            return block.size == size && block.align == align;
        });
        if (it == free_.end()) return upstream()->allocate(size, align);
        void* p = it->p;
        cached_ -= size;
        free_.erase(it);
        return p;
    }

    void do_deallocate(void* p, std::size_t size, std::size_t align) override {
        if (cached_ + size > kMaxCached) {
            upstream()->deallocate(p, size, align);
            return;
        }
        free_.push_back({p, size, align});
        cached_ += size;
    }

    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::vector<Block> free_;
    std::size_t cached_ = 0;
};

BlockCache& block_cache() {
    static BlockCache cache;
    return cache;
}

}  // namespace

TreeMemory::TreeMemory()
    : arena_(std::make_shared<std::pmr::monotonic_buffer_resource>(&block_cache())) {}

std::string_view TreeMemory::copy(std::string_view text) {
    if (text.empty()) return {};
    char* out = static_cast<char*>(allocate(text.size(), 1));
    std::copy(text.begin(), text.end(), out);
    return {out, text.size()};
}

}  // namespace kiln
