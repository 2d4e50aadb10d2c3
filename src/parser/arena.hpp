// The memory of parsed trees: one block per tree, released with the last holder of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "lexer/tok_segs.hpp"
#include "parser/node.hpp"

namespace kiln {

// Where the parser writes one tree: the records of its nodes (see node.hpp), one after another
// into one block that grows as the tree does. A record is written when its node is complete,
// after the records of its children, so that it holds their places; a record that holds words
// of its own begins before them and has the place of the child that comes after them patched
// in once the child is written.
class TreeMemory {
public:
    using Place = std::uint32_t;  // where a record lies in the block; 0 is none

    TreeMemory();
    ~TreeMemory();
    TreeMemory(const TreeMemory&) = delete;
    TreeMemory& operator=(const TreeMemory&) = delete;

    // Where the next byte goes.
    Place here() const;
    // Forgets what was written from `place` on.
    void rewind(Place place);
    // The first byte of a record: its kind, with kNodeFlag when `flag`.
    Place begin(NodeKind kind, bool flag = false);
    void put_byte(std::uint8_t byte) { *allocate(1) = static_cast<char>(byte); }
    // Adds `bits` to the first byte of the record at `place`.
    void mark(Place place, std::uint8_t bits);
    void put_place(Place place) { put_u32(place); }
    // Room for a place or a count, written later by patch().
    Place reserve_place();
    void patch(Place slot, std::uint32_t value);
    // A count, then the places.
    void put_places(std::span<const Place> places);
    // A name: its length, then its bytes.
    void put_text(std::string_view text);
    // A word, whose first `skip` bytes are left out, laid out as seg_layout says.
    void put_word(const TokSegs& segs, std::size_t skip = 0);

    // The finished tree, whose root is the record at `root`.
    Tree finish(Place root);

    // The block being written: its bytes, its size, and how many of them are written.
    struct Block {
        char* p = nullptr;
        std::size_t size = 0;
        std::size_t used = 0;
    };

private:
    friend const Result<Tree, std::string>& parse_command_text(const CommandCell& cell,
                                                               std::string_view text);
    struct Arena;
    struct Scratch;
    void put_count(std::size_t n) {
        if (n < tree_detail::kLongCount) {
            put_byte(static_cast<std::uint8_t>(n));
            return;
        }
        if (n > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
        put_byte(tree_detail::kLongCount);
        put_u32(static_cast<std::uint32_t>(n));
    }
    void put_u32(std::uint32_t n) { std::memcpy(allocate(4), &n, 4); }
    // Room for `size` bytes at the next multiple of `align`: where they lie until the next
    // call, which may move the block. Written inline, as it is asked for every byte or two
    // of a tree (paid for by the parse-only shape of bench/language.sh).
    char* allocate(std::size_t size, std::size_t align = 1) {
        const std::size_t place = (block_->used + align - 1) & ~(align - 1);
        if (place > block_->size || size > block_->size - place) grow(place + size);
        block_->used = place + size;
        return block_->p + place;
    }
    // Makes the block at least `size` bytes; bad_alloc past the places' reach.
    [[gnu::noinline]] void grow(std::size_t size);

    std::shared_ptr<Arena> arena_;
    Block* block_;                      // the arena's
    std::unique_ptr<Scratch> scratch_;  // reused while a word is laid out
};

}  // namespace kiln
