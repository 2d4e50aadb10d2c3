// The syntax tree: a variant of plain structs. A tree is written once, by the parser, into
// memory of its own (see Tree), and read ever after: a node points at its children, and a
// list or a text is a view of that memory. Nothing in a tree owns anything, so nothing in it
// is ever destroyed one by one; a function body lives on by sharing the memory of its tree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "lexer/token.hpp"

namespace kiln {

// The children of a node, or the segments of a word, in the memory of their tree.
template <class T>
class List {
public:
    List() = default;
    List(const T* data, std::size_t size) : data_(data), size_(size) {}

    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    const T& back() const { return data_[size_ - 1]; }
    operator std::span<const T>() const { return {data_, size_}; }  // NOLINT: a view as well

private:
    const T* data_ = nullptr;
    std::size_t size_ = 0;
};

// One piece of a word after quote removal.
struct Seg {
    std::string_view text;
    Quote quote = Quote::None;
};

// The segments of one word; never empty in a tree.
using Word = List<Seg>;

struct Node;

struct Assignment {
    std::string_view name;  // a valid name
    Word value;             // unquoted text after '=', then the word's remaining segments
};

struct Redirect {
    Word target;
    std::optional<std::uint32_t> fd;
    RedirOp op = RedirOp::Out;
};

struct Empty {};

// Never all three lists empty.
struct Simple {
    List<Assignment> assigns;
    List<Word> words;
    List<Redirect> redirects;
};

struct Pipeline {
    List<Node> stages;  // two or more
};

// `a && b || c` nests to the left: AndOr(AndOr(a, b), c).
struct AndOr {
    const Node* left = nullptr;
    const Node* right = nullptr;
    bool is_or = false;
};

struct Sequence {
    List<Node> items;  // two or more
};

struct Subshell {
    const Node* body = nullptr;
};

struct Group {
    const Node* body = nullptr;
};

struct ElifClause;

struct If {
    const Node* cond = nullptr;
    const Node* then_body = nullptr;
    List<ElifClause> elifs;
    const Node* else_body = nullptr;
};

struct For {
    std::string_view var;
    List<Word> words;  // empty: iterate over the positional parameters
    const Node* body = nullptr;
};

// `while` and `until`.
struct Loop {
    const Node* cond = nullptr;
    const Node* body = nullptr;
    bool until = false;
};

struct CaseArm;

struct Case {
    Word word;
    List<CaseArm> arms;
};

struct FunctionDef {
    std::string_view name;
    const Node* body = nullptr;
};

struct Node {
    std::variant<Empty, Simple, Pipeline, AndOr, Sequence, Subshell, Group, If, For, Loop, Case,
                 FunctionDef>
        v;
};

struct ElifClause {
    const Node* cond = nullptr;
    const Node* body = nullptr;
};

struct CaseArm {
    List<Word> patterns;         // at least one
    const Node* body = nullptr;  // Empty for an arm with no commands
};

static_assert(std::is_trivially_copyable_v<Node> && std::is_trivially_destructible_v<Node>);

// A parsed tree: its root and the memory that holds the root and everything below it. A
// copy shares the memory, so a function body kept as a tree of its own keeps its text alive
// for as long as the function is defined.
struct Tree {
    std::shared_ptr<const void> memory;
    const Node* root = nullptr;
};

// True for a non-empty run of ASCII letters, digits and '_' not starting with a digit.
bool is_valid_name(std::string_view text);

// A compact one-line form of a tree for tests and debugging, e.g.
// `And(Simple{words=[a]}, Pipeline[Simple{words=[b]}, Simple{words=[c]}])`.
std::string dump_node(const Node& node);

}  // namespace kiln
