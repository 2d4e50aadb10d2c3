// The memory of parsed trees: one block per tree, released with the last holder of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/result.hpp"
#include "parser/node.hpp"

namespace kiln {

// Where the parser writes one tree: nodes, lists and texts, many and small and all dying
// together, bumped one after another into one block that grows as the tree does. What the
// parser gets back is a reference holding a place in the block (see Ref); a node or a list
// that holds such references is written into the block with each of them made a distance.
class TreeMemory {
public:
    TreeMemory();
    ~TreeMemory();
    TreeMemory(const TreeMemory&) = delete;
    TreeMemory& operator=(const TreeMemory&) = delete;

    Ref<Node> make(const Node& node);
    // A list of the tree at its exact size, its count just before its items.
    template <class ListType, class Item>
    ListType copy(std::span<const Item> items);
    Ref<Text> copy(std::string_view text);
    // The tree's copy of a word, whose first `skip` bytes are left out.
    Ref<Word> copy(const TokSegs& segs, std::size_t skip);

    // The finished tree, `root` its top.
    Tree finish(const Node& root);

    // Writes a count or a length; one too large for the tree's numbers is refused as memory
    // the tree cannot have.
    static void put_count(char* at, std::size_t n);

private:
    friend const Result<Tree, std::string>& parse_command_text(const CommandCell& cell,
                                                               std::string_view text);
    struct Arena;
    struct Scratch;
    std::size_t lay_out(const TokSegs& segs, std::size_t skip);
    std::size_t word_align() const;
    std::optional<Ref<Word>> copy_plain(const TokSeg& seg, std::size_t skip);
    // Room for `size` bytes at the next multiple of `align`: their place, where they lie
    // until the next call, which may move the block.
    std::uint32_t allocate(std::size_t size, std::size_t align);
    char* at(std::uint32_t place) const;
    // Makes the references that a value just written into the block holds distances.
    template <class T>
    void settle(T& value) const;
    template <class T>
    static T placed(std::uint32_t place) {
        T ref;
        ref.delta_ = static_cast<std::int32_t>(place);
        return ref;
    }

    std::shared_ptr<Arena> arena_;
    std::unique_ptr<Scratch> scratch_;  // reused while a word is laid out
};

namespace tree_detail {
// Calls `f` with each reference that a value of the tree holds.
template <class F>
void each_ref(Assignment& a, F f) {
    f(a.name);
    f(a.value);
}
template <class F>
void each_ref(Redirect& r, F f) {
    f(r.target);
}
template <class F>
void each_ref(IfClause& c, F f) {
    f(c.cond);
    f(c.body);
}
template <class F>
void each_ref(CaseArm& a, F f) {
    f(a.patterns);
    f(a.body);
}
template <class T, class F>
void each_ref(Ref<T>& r, F f) {
    f(r);
}
template <class F>
void each_ref(Node& node, F f) {
    std::visit(
        [&](auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, Simple>) {
                f(n.assigns), f(n.words), f(n.redirects);
            } else if constexpr (std::is_same_v<T, Pipeline>) {
                f(n.stages);
            } else if constexpr (std::is_same_v<T, AndOr> || std::is_same_v<T, Loop>) {
                if constexpr (std::is_same_v<T, AndOr>) {
                    f(n.left), f(n.right);
                } else {
                    f(n.cond), f(n.body);
                }
            } else if constexpr (std::is_same_v<T, Sequence>) {
                f(n.items);
            } else if constexpr (std::is_same_v<T, Subshell> || std::is_same_v<T, Group>) {
                f(n.body);
            } else if constexpr (std::is_same_v<T, If>) {
                f(n.clauses), f(n.else_body);
            } else if constexpr (std::is_same_v<T, For>) {
                f(n.var), f(n.words), f(n.body);
            } else if constexpr (std::is_same_v<T, Case>) {
                f(n.word), f(n.arms);
            } else if constexpr (std::is_same_v<T, FunctionDef>) {
                f(n.name), f(n.body);
            }
        },
        node.v);
}
}  // namespace tree_detail

template <class T>
void TreeMemory::settle(T& value) const {
    const char* base = at(0);
    tree_detail::each_ref(value, [&](tree_detail::RefBase& ref) {
        if (ref.delta_ == 0) return;
        const auto field = static_cast<std::uint32_t>(reinterpret_cast<char*>(&ref) - base);
        ref.delta_ = static_cast<std::int32_t>(static_cast<std::int64_t>(ref.delta_) - field);
    });
}

template <class ListType, class Item>
ListType TreeMemory::copy(std::span<const Item> items) {
    static_assert(alignof(Item) <= 4 && std::is_trivially_copyable_v<Item>);
    if (items.empty()) return {};
    const std::uint32_t place = allocate(4 + items.size_bytes(), 4);
    put_count(at(place), items.size());
    std::memcpy(at(place + 4), items.data(), items.size_bytes());
    auto* out = reinterpret_cast<Item*>(at(place + 4));
    for (std::size_t i = 0; i < items.size(); ++i)
        settle(out[i]);
    return placed<ListType>(place);
}

}  // namespace kiln
