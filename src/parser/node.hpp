// The syntax tree: a variant of plain structs. A tree is written once, by the parser, into
// memory of its own (see Tree), and read ever after: a node points at its children, and a
// list or a text is a view of that memory. Nothing in a tree owns anything, so nothing in it
// is ever destroyed one by one; a function body lives on by sharing the memory of its tree.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "lexer/dollar.hpp"
#include "lexer/token.hpp"

namespace kiln {

// The lengths of a tree's lists, texts and word pieces are kept in the tree's memory just
// before what they measure, so that a node holds each of them in one pointer and a word of
// one piece costs a few bytes beside its text (paid for by the peak memory per byte of text
// of the large-script shape of bench/language.sh).
namespace tree_detail {
inline std::uint32_t read_u32(const void* at) {
    std::uint32_t n;
    std::memcpy(&n, at, sizeof n);
    return n;
}
}  // namespace tree_detail

// The children of a node in the memory of their tree, their count just before the first.
template <class T>
class List {
public:
    List() = default;
    explicit List(const T* data) : data_(data) {}  // `data` follows its count

    const T* begin() const { return data_; }
    const T* end() const { return data_ + size(); }
    std::size_t size() const {
        return data_ ? tree_detail::read_u32(reinterpret_cast<const char*>(data_) - 4) : 0;
    }
    bool empty() const { return data_ == nullptr; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    const T& back() const { return data_[size() - 1]; }
    operator std::span<const T>() const { return {data_, size()}; }  // NOLINT: a view as well

private:
    const T* data_ = nullptr;
};

// A name in the memory of its tree (a variable or a function), its length just before it.
class Text {
public:
    Text() = default;
    explicit Text(const char* data) : data_(data) {}  // `data` follows its length

    std::string_view view() const {
        return data_ ? std::string_view(data_, tree_detail::read_u32(data_ - 4))
                     : std::string_view();
    }
    operator std::string_view() const { return view(); }  // NOLINT: a name reads as text

private:
    const char* data_ = nullptr;
};

struct ParsedCommand;

// Where the tree keeps the text of one command substitution once it is parsed, at its first
// run, for the runs after it; written then, although the tree is otherwise never written. A
// substitution in a loop or a function is so lexed and parsed once (paid for by the
// command-substitution shape of bench/language.sh).
struct CommandCell {
    mutable const ParsedCommand* parsed = nullptr;
    void* owner = nullptr;  // the memory of the tree, which keeps what is parsed
};

// One piece of a word after quote removal, with what the lexer's reading of dollar forms
// found in it.
struct Seg {
    std::string_view text;
    Quote quote = Quote::None;
    bool pattern = false;                // unquoted, with a pattern character of its own
    std::span<const DollarForm> forms;   // in order; none in Single text
    const CommandCell* cells = nullptr;  // one for each form when any is a command
};

// How a piece of a word is laid out in the tree's memory: one number holding its length and
// these flags, its bytes padded to the next number, and then, with kHasForms, the count of its
// dollar forms and the forms, and with kHasCells, a CommandCell for each form at the next
// multiple of eight.
namespace seg_layout {
inline constexpr std::uint32_t kQuoteMask = 3;
inline constexpr std::uint32_t kPattern = 4;
inline constexpr std::uint32_t kHasForms = 8;
inline constexpr std::uint32_t kHasCells = 16;
inline constexpr int kLengthShift = 5;
inline constexpr std::size_t padded(std::size_t n) {
    return (n + 3) / 4 * 4;
}
inline const char* cells_at(const char* at) {
    const auto misplaced = reinterpret_cast<std::uintptr_t>(at) % alignof(CommandCell);
    return misplaced == 0 ? at : at + (alignof(CommandCell) - misplaced);
}
}  // namespace seg_layout

// The pieces of one word, never none in a tree. In the tree's memory a word is the count of
// its pieces, then each piece as seg_layout says; the pieces are read out as Seg values.
class Word {
public:
    // Reads each piece once, as it steps onto it.
    class Iterator {
    public:
        Iterator(const char* at, std::uint32_t left) : left_(left) {
            if (left_ > 0) read(at);
        }
        const Seg& operator*() const { return seg_; }
        const Seg* operator->() const { return &seg_; }
        Iterator& operator++() {
            if (--left_ > 0) read(next_);
            return *this;
        }
        bool operator==(const Iterator& other) const { return left_ == other.left_; }

    private:
        void read(const char* at);

        Seg seg_;
        const char* next_ = nullptr;  // the piece after seg_
        std::uint32_t left_;          // pieces from seg_ to the end
    };

    Word() = default;
    explicit Word(const char* data) : data_(data) {}  // the count of pieces, then the pieces

    Iterator begin() const { return {data_ + 4, static_cast<std::uint32_t>(size())}; }
    Iterator end() const { return {nullptr, 0}; }
    std::size_t size() const { return data_ ? tree_detail::read_u32(data_) : 0; }
    bool empty() const { return size() == 0; }
    Seg operator[](std::size_t i) const {
        Iterator it = begin();
        while (i-- > 0)
            ++it;
        return *it;
    }

private:
    const char* data_ = nullptr;
};

inline void Word::Iterator::read(const char* at) {
    using namespace seg_layout;
    const std::uint32_t head = tree_detail::read_u32(at);
    const std::size_t size = head >> kLengthShift;
    seg_ = Seg{std::string_view(at + 4, size),
               static_cast<Quote>(head & kQuoteMask),
               (head & kPattern) != 0,
               {},
               nullptr};
    next_ = at + 4 + padded(size);
    if (!(head & kHasForms)) return;
    const std::uint32_t forms = tree_detail::read_u32(next_);
    seg_.forms = {reinterpret_cast<const DollarForm*>(next_ + 4), forms};
    next_ += 4 + forms * sizeof(DollarForm);
    if (!(head & kHasCells)) return;
    next_ = cells_at(next_);
    seg_.cells = reinterpret_cast<const CommandCell*>(next_);
    next_ += forms * sizeof(CommandCell);
}

struct Node;

struct Assignment {
    Text name;   // a valid name
    Word value;  // unquoted text after '=', then the word's remaining segments
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

struct IfClause;

// `if a; then b; elif c; then d; else e; fi`: the clauses (a, b) and (c, d), then e.
struct If {
    List<IfClause> clauses;           // the `if` clause, then each `elif`
    const Node* else_body = nullptr;  // absent without `else`
};

struct For {
    Text var;
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
    Text name;
    const Node* body = nullptr;
};

struct Node {
    std::variant<Empty, Simple, Pipeline, AndOr, Sequence, Subshell, Group, If, For, Loop, Case,
                 FunctionDef>
        v;
};

struct IfClause {
    const Node* cond = nullptr;
    const Node* body = nullptr;
};

struct CaseArm {
    List<Word> patterns;         // at least one
    const Node* body = nullptr;  // Empty for an arm with no commands
};

static_assert(std::is_trivially_copyable_v<Node> && std::is_trivially_destructible_v<Node>);
static_assert(sizeof(Node) <= 32, "a node is at most three pointers and its kind");

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
