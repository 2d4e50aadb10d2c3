// The memory of parsed trees: one arena per tree, released with the last holder of the tree.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <new>
#include <span>
#include <string_view>

#include "parser/node.hpp"

namespace kiln {

// Where the parser writes one tree. Nodes, lists and texts are many and small, and all of
// them die together: they are bumped out of large blocks instead of allocated one by one.
class TreeMemory {
public:
    TreeMemory();

    template <class T>
    const T* make(const T& value) {
        return ::new (allocate(sizeof(T), alignof(T))) T(value);
    }
    template <class T>
    List<T> copy(std::span<const T> items) {
        if (items.empty()) return {};
        T* out = static_cast<T*>(allocate(items.size_bytes(), alignof(T)));
        std::uninitialized_copy(items.begin(), items.end(), out);
        return {out, items.size()};
    }
    std::string_view copy(std::string_view text);

    // The memory itself, for the tree to hold.
    std::shared_ptr<const void> share() const { return arena_; }

private:
    void* allocate(std::size_t size, std::size_t align) { return arena_->allocate(size, align); }

    std::shared_ptr<std::pmr::memory_resource> arena_;
};

}  // namespace kiln
