// The syntax tree: a variant of plain structs. Every node owns its children; copying a node
// copies the whole subtree, which is how function bodies enter the function table.
//
// The parser builds a tree in one arena (see Tree): its lists and boxes take their memory
// from the default memory resource, which the parser points at the arena while it runs. A
// copy takes memory from the default resource of its own moment, the heap once parsing is
// over, so a function body copied out of a tree outlives the tree and its arena.
#pragma once

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "lexer/token.hpp"

namespace kiln {

// A list of children or words, in the memory of the tree that holds it.
template <class T>
using List = std::pmr::vector<T>;

// An owned, never-null (until moved from), deep-copying pointer for a single child, in the
// memory resource that was the default when it was made.
template <class T>
class Box {
public:
    Box() : Box(T{}) {}
    Box(T value) : p_(make(std::move(value))) {}  // NOLINT: implicit by design
    Box(const Box& other) : p_(make(*other.p_)) {}
    Box(Box&& other) noexcept : resource_(other.resource_), p_(std::exchange(other.p_, nullptr)) {}
    Box& operator=(const Box& other) {
        if (this != &other) *this = Box(other);
        return *this;
    }
    Box& operator=(Box&& other) noexcept {
        std::swap(resource_, other.resource_);
        std::swap(p_, other.p_);
        return *this;
    }
    // A new value for the child goes into the child's own place.
    Box& operator=(T value) {
        if (p_) {
            *p_ = std::move(value);
        } else {
            p_ = make(std::move(value));
        }
        return *this;
    }
    ~Box() {
        if (p_) std::pmr::polymorphic_allocator<T>(resource_).delete_object(p_);
    }

    T& operator*() { return *p_; }
    const T& operator*() const { return *p_; }
    T* operator->() { return p_; }
    const T* operator->() const { return p_; }

private:
    template <class V>
    T* make(V&& value) {
        return std::pmr::polymorphic_allocator<T>(resource_).template new_object<T>(
            std::forward<V>(value));
    }

    std::pmr::memory_resource* resource_ = std::pmr::get_default_resource();
    T* p_;
};

struct Node;

struct Assignment {
    std::string name;  // a valid name
    Word value;        // unquoted text after '=', then the word's remaining segments
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
    Box<Node> left;
    Box<Node> right;
    bool is_or = false;
};

struct Sequence {
    List<Node> items;  // two or more
};

struct Subshell {
    Box<Node> body;
};

struct Group {
    Box<Node> body;
};

struct ElifClause;

struct If {
    Box<Node> cond;
    Box<Node> then_body;
    List<ElifClause> elifs;
    std::optional<Box<Node>> else_body;
};

struct For {
    std::string var;
    List<Word> words;  // empty: iterate over the positional parameters
    Box<Node> body;
};

// `while` and `until`.
struct Loop {
    Box<Node> cond;
    Box<Node> body;
    bool until = false;
};

struct CaseArm;

struct Case {
    Word word;
    List<CaseArm> arms;
};

struct FunctionDef {
    std::string name;
    Box<Node> body;
};

struct Node {
    std::variant<Empty, Simple, Pipeline, AndOr, Sequence, Subshell, Group, If, For, Loop, Case,
                 FunctionDef>
        v;
};

struct ElifClause {
    Box<Node> cond;
    Box<Node> body;
};

struct CaseArm {
    List<Word> patterns;  // at least one
    Box<Node> body;       // Empty for an arm with no commands
};

// A parsed tree: the root node and the arena that holds its nodes. The arena is a base
// class listed first, so that it is made before the root and released after it.
class TreeArena {
protected:
    explicit TreeArena(std::unique_ptr<std::pmr::memory_resource> arena)
        : arena_(std::move(arena)) {}

private:
    std::unique_ptr<std::pmr::memory_resource> arena_;
};

class Tree : private TreeArena, public Node {
public:
    Tree(std::unique_ptr<std::pmr::memory_resource> arena, Node&& root)
        : TreeArena(std::move(arena)), Node(std::move(root)) {}
};

// True for a non-empty run of ASCII letters, digits and '_' not starting with a digit.
bool is_valid_name(std::string_view text);

// A compact one-line form of a tree for tests and debugging, e.g.
// `And(Simple{words=[a]}, Pipeline[Simple{words=[b]}, Simple{words=[c]}])`.
std::string dump_node(const Node& node);

}  // namespace kiln
