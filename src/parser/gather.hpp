// The stacks on which the parser gathers lists before it puts them into the tree. Copying
// each finished list at its exact size keeps the tree's memory to what the tree holds (paid
// for by the parse-only peak memory of bench/language.sh).
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

#include "parser/arena.hpp"
#include "parser/node.hpp"

namespace kiln {

// The elements of the lists being gathered, of one kind, in one block of their own. The block
// grows by std::realloc, which moves a large block by remapping its pages instead of copying
// them, and it keeps room for a list's count before its first element, so that the block can
// become a list of the tree as it is. A script's outermost list, one element per command, is
// then never copied and never held twice (paid for by the peak memory per byte of text of the
// large-script shape of bench/language.sh).
template <class T>
class GatherStack {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr std::size_t kHead = alignof(T) < 4 ? 4 : alignof(T);
    static_assert(kHead <= alignof(std::max_align_t));

public:
    GatherStack() = default;
    GatherStack(const GatherStack&) = delete;
    GatherStack& operator=(const GatherStack&) = delete;
    ~GatherStack() { std::free(block_); }

    std::size_t size() const { return size_; }
    const T* data() const { return block_ ? reinterpret_cast<const T*>(block_ + kHead) : nullptr; }
    void push_back(const T& item) {
        if (size_ == capacity_) grow();
        std::memcpy(block_ + kHead + size_ * sizeof(T), &item, sizeof(T));
        ++size_;
    }
    void cut(std::size_t size) { size_ = size; }

    // The whole stack as a list of the tree, leaving the stack empty.
    List<T> hand_over(TreeMemory& memory) {
        TreeMemory::put_count(block_ + kHead - 4, size_);
        char* block = block_;
        if (void* fitted = std::realloc(block, kHead + size_ * sizeof(T))) {
            block = static_cast<char*>(fitted);
        }
        block_ = nullptr;  // the tree's from here on, also when adopting it fails
        size_ = capacity_ = 0;
        memory.adopt(block);
        return List<T>(reinterpret_cast<const T*>(block + kHead));
    }

private:
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
        void* grown = std::realloc(block_, kHead + capacity * sizeof(T));
        if (!grown) throw std::bad_alloc();
        block_ = static_cast<char*>(grown);
        capacity_ = capacity;
    }

    char* block_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// A list as the parser gathers it. Its elements wait at the top of a stack of their kind
// and are put into the tree at their exact size once the list is complete: a list grown in
// the tree's memory would leave its old storage behind there. Lists nest, and an inner list
// is complete before its outer list goes on, so each list is a run at the top of its stack;
// the run is cut off the stack when the Gather goes.
template <class T>
class Gather {
    // A list this large at the bottom of its stack becomes a list of the tree in the stack's
    // own block instead of being copied.
    static constexpr std::size_t kHandOverBytes = std::size_t{1} << 20;

public:
    explicit Gather(GatherStack<T>& stack) : stack_(stack), start_(stack.size()) {}
    ~Gather() { stack_.cut(start_); }
    Gather(const Gather&) = delete;
    Gather& operator=(const Gather&) = delete;

    void add(const T& item) { stack_.push_back(item); }
    std::size_t size() const { return stack_.size() - start_; }
    std::span<const T> items() const { return {stack_.data() + start_, size()}; }
    List<T> take(TreeMemory& memory) const {
        if (start_ == 0 && size() * sizeof(T) >= kHandOverBytes) return stack_.hand_over(memory);
        return memory.copy(items());
    }

private:
    GatherStack<T>& stack_;
    std::size_t start_;
};

// One stack per kind of list element.
struct GatherStacks {
    GatherStack<Node> nodes;
    GatherStack<Word> words;
    GatherStack<Assignment> assigns;
    GatherStack<Redirect> redirects;
    GatherStack<IfClause> clauses;
    GatherStack<CaseArm> arms;
};

}  // namespace kiln
