// The memory of parsed trees: one arena per tree, released with the last holder of the tree.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "parser/node.hpp"

namespace kiln {

// Where the parser writes one tree. Nodes, lists and texts are many and small, and all of
// them die together: they are bumped out of large blocks instead of allocated one by one.
class TreeMemory {
public:
    TreeMemory();
    ~TreeMemory();
    TreeMemory(const TreeMemory&) = delete;
    TreeMemory& operator=(const TreeMemory&) = delete;

    template <class T>
    const T* make(const T& value) {
        return ::new (allocate(sizeof(T), alignof(T))) T(value);
    }
    // A list at its exact size, its count just before it.
    template <class T>
    List<T> copy(std::span<const T> items) {
        if (items.empty()) return {};
        constexpr std::size_t kHead = alignof(T) < 4 ? 4 : alignof(T);
        char* block = static_cast<char*>(allocate(kHead + items.size_bytes(), kHead));
        put_count(block + kHead - 4, items.size());
        T* out = reinterpret_cast<T*>(block + kHead);
        std::uninitialized_copy(items.begin(), items.end(), out);
        return List<T>(out);
    }
    Text copy(std::string_view text);
    // The tree's copy of a word, whose first `skip` bytes are left out.
    Word copy(const TokSegs& segs, std::size_t skip);

    // Takes a block from std::malloc into the tree, to be freed with it.
    void adopt(void* block);
    // Writes a count or a length; one too large for the tree's numbers is refused as memory
    // the tree cannot have.
    static void put_count(char* at, std::size_t n);

    // The memory itself, for the tree to hold.
    std::shared_ptr<const void> share() const { return arena_; }

private:
    friend const Result<Tree, std::string>& parse_command_text(const CommandCell& cell,
                                                               std::string_view text);
    struct Arena;
    struct Scratch;
    std::size_t lay_out(const TokSegs& segs, std::size_t skip);
    std::optional<Word> copy_plain(const TokSeg& seg, std::size_t skip);
    void* allocate(std::size_t size, std::size_t align) { return blocks_->allocate(size, align); }

    std::shared_ptr<Arena> arena_;
    std::pmr::memory_resource* blocks_;  // the arena's blocks
    std::unique_ptr<Scratch> scratch_;   // reused while a word is laid out
};

}  // namespace kiln
