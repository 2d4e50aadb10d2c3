// The stack on which the parser gathers lists of nodes before it writes them into the tree.
// Writing each finished list at its exact size keeps the tree's memory to what the tree holds
// (paid for by the parse-only peak memory of bench/language.sh).
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

#include "parser/arena.hpp"
#include "parser/node.hpp"
#include "platform/platform.hpp"

namespace kiln {

// The items of the lists being gathered, of one kind, in one block of their own that grows by
// platform::resize_block, which moves a large block by its pages instead of copying them.
template <class T>
class GatherStack {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    GatherStack() = default;
    GatherStack(const GatherStack&) = delete;
    GatherStack& operator=(const GatherStack&) = delete;
    ~GatherStack() { platform::free_block(items_, capacity_ * sizeof(T)); }

    std::size_t size() const { return size_; }
    const T* data() const { return items_; }
    void push_back(const T& item) {
        if (size_ == capacity_) grow();
        std::memcpy(static_cast<void*>(items_ + size_), &item, sizeof(T));
        ++size_;
    }
    void cut(std::size_t size) { size_ = size; }

private:
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
        void* grown = platform::resize_block(items_, capacity_ * sizeof(T), capacity * sizeof(T));
        if (!grown) throw std::bad_alloc();
        items_ = static_cast<T*>(grown);
        capacity_ = capacity;
    }

    T* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// A list as the parser gathers it. Its items wait at the top of a stack and are written into
// the tree once the list is complete, after the records of the items themselves. Lists nest,
// and an inner list is complete before its outer list goes on, so each list is a run at the
// top of the stack; the run is cut off the stack when the Gather goes.
template <class Item>
class Gather {
public:
    explicit Gather(GatherStack<Item>& stack) : stack_(stack), start_(stack.size()) {}
    ~Gather() { stack_.cut(start_); }
    Gather(const Gather&) = delete;
    Gather& operator=(const Gather&) = delete;

    void add(const Item& item) { stack_.push_back(item); }
    std::size_t size() const { return stack_.size() - start_; }
    std::span<const Item> items() const { return {stack_.data() + start_, size()}; }

private:
    GatherStack<Item>& stack_;
    std::size_t start_;
};

}  // namespace kiln
