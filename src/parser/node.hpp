// The syntax tree: a variant of plain structs. Every node owns its children; copying a node
// copies the whole subtree, which is how function bodies enter the function table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lexer/token.hpp"

namespace kiln {

// An owned, never-null, deep-copying pointer for a single child.
template <class T>
class Box {
public:
    Box() : p_(std::make_unique<T>()) {}
    Box(T value) : p_(std::make_unique<T>(std::move(value))) {}  // NOLINT: implicit by design
    Box(const Box& other) : p_(std::make_unique<T>(*other.p_)) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& other) {
        if (this != &other) p_ = std::make_unique<T>(*other.p_);
        return *this;
    }
    Box& operator=(Box&&) noexcept = default;
    ~Box() = default;

    T& operator*() { return *p_; }
    const T& operator*() const { return *p_; }
    T* operator->() { return p_.get(); }
    const T* operator->() const { return p_.get(); }

private:
    std::unique_ptr<T> p_;
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
    std::vector<Assignment> assigns;
    std::vector<Word> words;
    std::vector<Redirect> redirects;
};

struct Pipeline {
    std::vector<Node> stages;  // two or more
};

// `a && b || c` nests to the left: AndOr(AndOr(a, b), c).
struct AndOr {
    Box<Node> left;
    Box<Node> right;
    bool is_or = false;
};

struct Sequence {
    std::vector<Node> items;  // two or more
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
    std::vector<ElifClause> elifs;
    std::optional<Box<Node>> else_body;
};

struct For {
    std::string var;
    std::vector<Word> words;  // empty: iterate over the positional parameters
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
    std::vector<CaseArm> arms;
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
    std::vector<Word> patterns;  // at least one
    Box<Node> body;              // Empty for an arm with no commands
};

// True for a non-empty run of ASCII letters, digits and '_' not starting with a digit.
bool is_valid_name(std::string_view text);

// A compact one-line form of a tree for tests and debugging, e.g.
// `And(Simple{words=[a]}, Pipeline[Simple{words=[b]}, Simple{words=[c]}])`.
std::string dump_node(const Node& node);

}  // namespace kiln
