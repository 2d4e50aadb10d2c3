// Tree arenas and the cache of blocks under them.
#include "parser/arena.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <utility>
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

// The blocks of the arena, and the lists the parser gathered in blocks of their own.
struct TreeMemory::Arena {
    struct Free {
        void operator()(void* block) const { std::free(block); }
    };
    std::pmr::monotonic_buffer_resource blocks{&block_cache()};
    std::vector<std::unique_ptr<void, Free>> adopted;
};

TreeMemory::TreeMemory() : arena_(std::make_shared<Arena>()), blocks_(&arena_->blocks) {}

void TreeMemory::adopt(void* block) {
    arena_->adopted.reserve(arena_->adopted.size() + 1);
    arena_->adopted.emplace_back(block);
}

void TreeMemory::put_count(char* at, std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const auto count = static_cast<std::uint32_t>(n);
    std::memcpy(at, &count, sizeof count);
}

Text TreeMemory::copy(std::string_view text) {
    char* out = static_cast<char*>(allocate(4 + text.size(), 4));
    put_count(out, text.size());
    std::copy(text.begin(), text.end(), out + 4);
    return Text(out + 4);
}

// The count of pieces, then each piece: its length shifted past the two bits of its quoting,
// its bytes, and padding up to the next number.
Word TreeMemory::copy(const TokSegs& segs, std::size_t skip) {
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::uint32_t>::max() >> 2;
    const auto padded = [](std::size_t n) { return (n + 3) / 4 * 4; };
    std::size_t size = 4;
    std::size_t left_out = skip;  // the skipped bytes are in the first piece
    for (const TokSeg& seg : segs) {
        if (seg.text.size() > kMaxPiece) throw std::bad_alloc();
        size += 4 + padded(seg.text.size() - std::exchange(left_out, 0));
    }
    char* out = static_cast<char*>(allocate(size, 4));
    put_count(out, segs.size());
    char* at = out + 4;
    for (const TokSeg& seg : segs) {
        const std::string_view text = std::string_view(seg.text).substr(skip);
        skip = 0;
        put_count(at, text.size() << 2 | static_cast<std::size_t>(seg.quote));
        std::copy(text.begin(), text.end(), at + 4);
        at += 4 + padded(text.size());
    }
    return Word(out);
}

}  // namespace kiln
