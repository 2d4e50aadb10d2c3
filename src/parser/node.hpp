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

// A tree lies in one block of memory, and every reference inside it is the distance from the
// reference to what it names, in four bytes: a reference holds wherever the block lies, and a
// node costs half what it would with pointers (paid for by the peak memory per byte of text of
// the large-script shape of bench/language.sh). While the parser builds a node on its own
// stack, its references hold places in the block instead; TreeMemory turns them into distances
// as it writes the node into the block. A reference is read only inside its tree.
class TreeMemory;

namespace tree_detail {
inline std::uint32_t read_u32(const void* at) {
    std::uint32_t n;
    std::memcpy(&n, at, sizeof n);
    return n;
}

class RefBase {
public:
    explicit operator bool() const { return delta_ != 0; }

protected:
    const char* address() const {
        return reinterpret_cast<const char*>(this) + static_cast<std::ptrdiff_t>(delta_);
    }

private:
    friend class kiln::TreeMemory;
    std::int32_t delta_ = 0;  // none when 0: nothing names itself
};
}  // namespace tree_detail

class Text;
class Word;
struct Node;

// A reference to a node, or to the text of a name or of a word, which is read out as a Text or
// a Word.
template <class T>
class Ref : public tree_detail::RefBase {
public:
    decltype(auto) operator*() const {
        if constexpr (std::is_same_v<T, Node>) {
            return *reinterpret_cast<const Node*>(address());
        } else {
            return T(address());
        }
    }
    const T* operator->() const
        requires std::is_same_v<T, Node>
    {
        return &**this;
    }
};

// The items of a list: the count, then the items. Items are held in the list themselves, or,
// for nodes and words, as references to them; either way they are read out as T.
template <class T, class Item = T>
class List : public tree_detail::RefBase {
public:
    class Iterator {
    public:
        explicit Iterator(const Item* at) : at_(at) {}
        decltype(auto) operator*() const {
            if constexpr (std::is_same_v<Item, T>) {
                return *at_;
            } else {
                return **at_;
            }
        }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        const Item* at_;
    };

    Iterator begin() const { return Iterator(items()); }
    Iterator end() const { return Iterator(items() + size()); }
    std::size_t size() const { return *this ? tree_detail::read_u32(address()) : 0; }
    bool empty() const { return !*this; }
    decltype(auto) operator[](std::size_t i) const { return *Iterator(items() + i); }
    decltype(auto) back() const { return (*this)[size() - 1]; }

private:
    const Item* items() const {
        return *this ? reinterpret_cast<const Item*>(address() + 4) : nullptr;
    }
};

template <class T>
using RefList = List<T, Ref<T>>;

// A name in the memory of its tree (a variable or a function), its length just before it.
class Text {
public:
    Text() = default;
    explicit Text(const char* at) : at_(at) {}  // at its length

    std::string_view view() const {
        return at_ ? std::string_view(at_ + 4, tree_detail::read_u32(at_)) : std::string_view();
    }
    operator std::string_view() const { return view(); }  // NOLINT: a name reads as text

private:
    const char* at_ = nullptr;
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

// How a word is laid out in the tree's memory: its pieces one after another, each a number
// holding its length and these flags, then its bytes; with kHasForms, at the next multiple of
// four, the count of its dollar forms and the forms, and when any of them is a command, a
// CommandCell for each form at the next multiple of eight. The last piece has kLast. A word
// of plain pieces is so its bytes and four more for each piece (paid for by the peak memory
// per byte of text of the large-script shape of bench/language.sh).
namespace seg_layout {
inline constexpr std::uint32_t kQuoteMask = 3;
inline constexpr std::uint32_t kPattern = 4;
inline constexpr std::uint32_t kHasForms = 8;
inline constexpr std::uint32_t kLast = 16;
inline constexpr int kLengthShift = 5;
// `offset` rounded up to a multiple of `align`, in a word whose start is so aligned.
inline constexpr std::size_t aligned(std::size_t offset, std::size_t align) {
    return (offset + align - 1) / align * align;
}
inline const char* aligned(const char* at, std::size_t align) {
    const auto misplaced = reinterpret_cast<std::uintptr_t>(at) % align;
    return misplaced == 0 ? at : at + (align - misplaced);
}
inline bool has_command(std::span<const DollarForm> forms) {
    for (const DollarForm& form : forms) {
        if (form.kind == DollarForm::Kind::Command) return true;
    }
    return false;
}
}  // namespace seg_layout

// The pieces of one word, never none in a tree, laid out as seg_layout says and read out as
// Seg values.
class Word {
public:
    // Reads each piece once, as it steps onto it.
    class Iterator {
    public:
        explicit Iterator(const char* at) : at_(at) {
            if (at_) read();
        }
        const Seg& operator*() const { return seg_; }
        const Seg* operator->() const { return &seg_; }
        Iterator& operator++() {
            at_ = last_ ? nullptr : next_;
            if (at_) read();
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        void read();

        Seg seg_;
        const char* at_;              // the piece of seg_; null at the end
        const char* next_ = nullptr;  // the piece after it
        bool last_ = false;
    };

    Word() = default;
    explicit Word(const char* at) : at_(at) {}  // at its first piece

    Iterator begin() const { return Iterator(at_); }
    Iterator end() const { return Iterator(nullptr); }
    bool empty() const { return at_ == nullptr; }
    // True for a word of one piece, as nearly every word is.
    bool one_piece() const {
        return at_ && (tree_detail::read_u32(at_) & seg_layout::kLast) != 0;
    }
    std::size_t size() const {
        std::size_t n = 0;
        for (auto it = begin(); it != end(); ++it)
            ++n;
        return n;
    }
    Seg operator[](std::size_t i) const {
        Iterator it = begin();
        while (i-- > 0)
            ++it;
        return *it;
    }

private:
    const char* at_ = nullptr;
};

inline void Word::Iterator::read() {
    using namespace seg_layout;
    const std::uint32_t head = tree_detail::read_u32(at_);
    const std::size_t size = head >> kLengthShift;
    seg_ = Seg{std::string_view(at_ + 4, size),
               static_cast<Quote>(head & kQuoteMask),
               (head & kPattern) != 0,
               {},
               nullptr};
    last_ = (head & kLast) != 0;
    next_ = at_ + 4 + size;
    if (!(head & kHasForms)) return;
    next_ = aligned(next_, 4);
    const std::uint32_t forms = tree_detail::read_u32(next_);
    seg_.forms = {reinterpret_cast<const DollarForm*>(next_ + 4), forms};
    next_ += 4 + forms * sizeof(DollarForm);
    if (!has_command(seg_.forms)) return;
    next_ = aligned(next_, alignof(CommandCell));
    seg_.cells = reinterpret_cast<const CommandCell*>(next_);
    next_ += forms * sizeof(CommandCell);
}

struct Assignment {
    Ref<Text> name;   // a valid name
    Ref<Word> value;  // unquoted text after '=', then the word's remaining segments
};

struct Redirect {
    Ref<Word> target;
    std::optional<std::uint32_t> fd;
    RedirOp op = RedirOp::Out;
};

struct Empty {};

// Never all three lists empty.
struct Simple {
    List<Assignment> assigns;
    RefList<Word> words;
    List<Redirect> redirects;
};

struct Pipeline {
    RefList<Node> stages;  // two or more
};

// `a && b || c` nests to the left: AndOr(AndOr(a, b), c).
struct AndOr {
    Ref<Node> left;
    Ref<Node> right;
    bool is_or = false;
};

struct Sequence {
    RefList<Node> items;  // two or more
};

struct Subshell {
    Ref<Node> body;
};

struct Group {
    Ref<Node> body;
};

struct IfClause;

// `if a; then b; elif c; then d; else e; fi`: the clauses (a, b) and (c, d), then e.
struct If {
    List<IfClause> clauses;  // the `if` clause, then each `elif`
    Ref<Node> else_body;     // absent without `else`
};

struct For {
    Ref<Text> var;
    RefList<Word> words;  // empty: iterate over the positional parameters
    Ref<Node> body;
};

// `while` and `until`.
struct Loop {
    Ref<Node> cond;
    Ref<Node> body;
    bool until = false;
};

struct CaseArm;

struct Case {
    Ref<Word> word;
    List<CaseArm> arms;
};

struct FunctionDef {
    Ref<Text> name;
    Ref<Node> body;
};

struct Node {
    std::variant<Empty, Simple, Pipeline, AndOr, Sequence, Subshell, Group, If, For, Loop, Case,
                 FunctionDef>
        v;
};

struct IfClause {
    Ref<Node> cond;
    Ref<Node> body;
};

struct CaseArm {
    RefList<Word> patterns;  // at least one
    Ref<Node> body;          // Empty for an arm with no commands
};

static_assert(std::is_trivially_copyable_v<Node> && std::is_trivially_destructible_v<Node>);
static_assert(sizeof(Node) <= 16, "a node is at most three references and its kind");

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
