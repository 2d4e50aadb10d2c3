// The syntax tree. A tree is written once, by the parser, into one block of memory of its
// own (see Tree), and read ever after: each node is a record of bytes there, read out into the
// plain structs below as the evaluator visits it. A record holds its words and names in
// itself, and its child nodes by their places in the block, four bytes each: a tree is so
// two to three times the size of its text (paid for by the peak memory per byte of text of the
// large-script shape of bench/language.sh). Nothing in a tree owns anything, so nothing in it
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
#include <utility>

#include "lexer/dollar.hpp"
#include "lexer/token.hpp"

namespace kiln {

namespace tree_detail {
inline std::uint32_t read_u32(const char* at) {
    std::uint32_t n;
    std::memcpy(&n, at, sizeof n);
    return n;
}
// A count or a length: one byte below 255, else 255 and four bytes.
inline constexpr std::uint8_t kLongCount = 255;
inline std::uint32_t read_count(const char*& at) {
    const auto first = static_cast<std::uint8_t>(*at++);
    if (first != kLongCount) return first;
    const std::uint32_t n = read_u32(at);
    at += 4;
    return n;
}
}  // namespace tree_detail

// A name (of a variable or a function): its length, then its bytes.
class Text {
public:
    Text() = default;
    explicit Text(const char* at) : at_(at) {}

    std::string_view view() const {
        if (!at_) return {};
        const char* bytes = at_;
        const std::uint32_t size = tree_detail::read_count(bytes);
        return {bytes, size};
    }
    operator std::string_view() const { return view(); }  // NOLINT: a name reads as text
    // Where the bytes after the name begin.
    const char* end() const {
        const std::string_view text = view();
        return text.data() + text.size();
    }

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
// four, the count of its dollar forms and the forms, and when any of them is a command (the
// count then has kHasCells), a CommandCell for each form at the next multiple of eight. The last
// piece has kLast. A word of plain pieces is so its bytes and four more for each piece (paid for by
// the peak memory per byte of text of the large-script shape of bench/language.sh).
namespace seg_layout {
inline constexpr std::uint32_t kQuoteMask = 3;
inline constexpr std::uint32_t kPattern = 4;
inline constexpr std::uint32_t kHasForms = 8;
inline constexpr std::uint32_t kLast = 16;
inline constexpr int kLengthShift = 5;
// The count of forms has this bit when a CommandCell follows each form.
inline constexpr std::uint32_t kHasCells = std::uint32_t{1} << 31;
// `at` rounded up to a multiple of `align`, a power of two: the tree's block begins at a
// multiple of eight.
template <std::size_t align>
const char* aligned(const char* at) {
    const auto p = reinterpret_cast<std::uintptr_t>(at);
    return at + ((align - p % align) % align);
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
        bool last() const { return last_; }
        const char* next() const { return next_; }  // where the piece after this one lies

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
    // True for a word of one piece, as nearly every word is.
    bool one_piece() const { return at_ && (tree_detail::read_u32(at_) & seg_layout::kLast) != 0; }

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
    next_ = aligned<4>(next_);
    const std::uint32_t count = tree_detail::read_u32(next_);
    const std::uint32_t forms = count & ~kHasCells;
    seg_.forms = {reinterpret_cast<const DollarForm*>(next_ + 4), forms};
    next_ += 4 + forms * sizeof(DollarForm);
    if (!(count & kHasCells)) return;
    next_ = aligned<alignof(CommandCell)>(next_);
    seg_.cells = reinterpret_cast<const CommandCell*>(next_);
    next_ += forms * sizeof(CommandCell);
}

// Where a word ends: just past its last piece, its pieces stepped over by their lengths.
inline const char* word_end(const char* at) {
    using namespace seg_layout;
    while (true) {
        const std::uint32_t head = tree_detail::read_u32(at);
        at += 4 + (head >> kLengthShift);
        if (head & kHasForms) {
            at = aligned<4>(at);
            const std::uint32_t count = tree_detail::read_u32(at);
            const std::uint32_t n = count & ~kHasCells;
            at += 4 + n * sizeof(DollarForm);
            if (count & kHasCells) at = aligned<alignof(CommandCell)>(at) + n * sizeof(CommandCell);
        }
        if (head & kLast) return at;
    }
}

// The kinds of node, the first byte of each record; the bit kNodeFlag carries a node's one flag
// (`||` for AndOr, `until` for Loop), and a Simple's byte says which kinds of item it has.
enum class NodeKind : std::uint8_t {
    Empty,
    Simple,
    Pipeline,
    AndOr,
    Sequence,
    Subshell,
    Group,
    If,
    For,
    Loop,
    Case,
    FunctionDef
};
inline constexpr std::uint8_t kNodeFlag = 0x80;
inline constexpr std::uint8_t kKindMask = 0x0f;
inline constexpr std::uint8_t kHasAssignments = 0x10;
inline constexpr std::uint8_t kHasWords = 0x20;
inline constexpr std::uint8_t kHasRedirects = 0x40;

// The items of a simple command, of a for-loop's list and of a case arm's patterns, each
// after a byte that says what it is, in the order they were written; the byte kEnd ends them.
namespace item_layout {
inline constexpr std::uint8_t kWord = 0;
inline constexpr std::uint8_t kAssignment = 1;
inline constexpr std::uint8_t kRedirect = 2;  // | the operator << 2 | kHasFd
inline constexpr std::uint8_t kHasFd = 0x10;  // four bytes of descriptor follow
inline constexpr std::uint8_t kEnd = 0xff;
inline std::uint8_t tag(std::uint8_t byte) {
    return byte == kEnd ? kEnd : byte & 3;
}
// Where the item whose tag byte is at `at` ends.
inline const char* item_end(const char* at) {
    const auto byte = static_cast<std::uint8_t>(*at);
    ++at;
    if (tag(byte) == kAssignment) at = Text(at).end();
    if (tag(byte) == kRedirect && (byte & kHasFd)) at += 4;
    return word_end(at);
}
}  // namespace item_layout

struct Assignment {
    Text name;   // a valid name
    Word value;  // unquoted text after '=', then the word's remaining segments
};

struct Redirect {
    Word target;
    std::optional<std::uint32_t> fd;
    RedirOp op = RedirOp::Out;
};

// The items of one kind in a run of items (see item_layout), read out as T.
template <class T>
class Items {
public:
    class Iterator {
    public:
        explicit Iterator(const char* at) : at_(at) { settle(); }
        T operator*() const;
        Iterator& operator++() {
            at_ = item_layout::item_end(at_);
            settle();
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        // Steps over items of other kinds; null at the end.
        void settle() {
            while (at_) {
                const std::uint8_t tag = item_layout::tag(static_cast<std::uint8_t>(*at_));
                if (tag == item_layout::kEnd) {
                    at_ = nullptr;
                } else if (tag == kTag) {
                    return;
                } else {
                    at_ = item_layout::item_end(at_);
                }
            }
        }
        const char* at_;
    };

    Items() = default;
    explicit Items(const char* at) : at_(at) {}

    Iterator begin() const { return Iterator(at_); }
    Iterator end() const { return Iterator(nullptr); }
    bool empty() const { return begin() == end(); }

private:
    static constexpr std::uint8_t kTag = std::is_same_v<T, Word>         ? item_layout::kWord
                                         : std::is_same_v<T, Assignment> ? item_layout::kAssignment
                                                                         : item_layout::kRedirect;
    const char* at_ = nullptr;  // the first item
};

template <>
inline Word Items<Word>::Iterator::operator*() const {
    return Word(at_ + 1);
}
template <>
inline Assignment Items<Assignment>::Iterator::operator*() const {
    const Text name(at_ + 1);
    return Assignment{name, Word(name.end())};
}
template <>
inline Redirect Items<Redirect>::Iterator::operator*() const {
    const auto byte = static_cast<std::uint8_t>(*at_);
    Redirect r;
    r.op = static_cast<RedirOp>((byte >> 2) & 3);
    const char* word = at_ + 1;
    if (byte & item_layout::kHasFd) {
        r.fd = tree_detail::read_u32(word);
        word += 4;
    }
    r.target = Word(word);
    return r;
}

// A node of a tree: where its record lies in the memory of its tree. Its kind and its parts
// are read out by visit().
class Node {
public:
    Node() = default;
    Node(const char* base, std::uint32_t place) : base_(base), place_(place) {}

    NodeKind kind() const { return static_cast<NodeKind>(byte() & kKindMask); }
    bool flag() const { return (byte() & kNodeFlag) != 0; }
    bool has(std::uint8_t bit) const { return (byte() & bit) != 0; }
    const char* record() const { return base_ + place_; }
    std::uint8_t byte() const { return static_cast<std::uint8_t>(*record()); }
    // The node whose place is written at `at`.
    Node at(const char* at) const { return {base_, tree_detail::read_u32(at)}; }
    // What lies at the place written at `at`.
    const char* follow(const char* at) const { return base_ + tree_detail::read_u32(at); }
    explicit operator bool() const { return base_ != nullptr; }

private:
    const char* base_ = nullptr;
    std::uint32_t place_ = 0;
};

// Nodes or words by their places: a count, then the places. Stepping along such a list
// reads nothing, where stepping along items reads each word's pieces (paid for by the
// builtin, variable and function shapes of bench/language.sh).
template <class T>
class Places {
public:
    Places() = default;
    Places(Node owner, const char* at) : owner_(owner) {
        size_ = tree_detail::read_count(at);
        places_ = at;
    }
    class Iterator {
    public:
        Iterator(Node owner, const char* at) : owner_(owner), at_(at) {}
        T operator*() const { return read(owner_, at_); }
        Iterator& operator++() {
            at_ += 4;
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        Node owner_;
        const char* at_;
    };
    Iterator begin() const { return {owner_, places_}; }
    Iterator end() const { return {owner_, places_ + 4 * size_}; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T operator[](std::size_t i) const { return read(owner_, places_ + 4 * i); }
    T back() const { return (*this)[size_ - 1]; }

private:
    static T read(Node owner, const char* at) {
        if constexpr (std::is_same_v<T, Word>) {
            return Word(owner.follow(at));
        } else {
            return owner.at(at);
        }
    }

    Node owner_;  // any node of the tree, for the places
    const char* places_ = nullptr;
    std::size_t size_ = 0;
};

using NodeList = Places<Node>;
using WordList = Places<Word>;

struct Empty {};

// Never all three lists empty. [kind with the kinds of item it has, place of the words' list,
// items, kEnd, the words' list]
struct Simple {
    Items<Assignment> assigns;
    WordList words;
    Items<Redirect> redirects;
};

// [kind, count, places]
struct Pipeline {
    NodeList stages;  // two or more
};

// `a && b || c` nests to the left: AndOr(AndOr(a, b), c). [kind | flag for `||`, left, right]
struct AndOr {
    Node left;
    Node right;
    bool is_or = false;
};

// [kind, count, places]
struct Sequence {
    NodeList items;  // two or more
};

// [kind, body]
struct Subshell {
    Node body;
};

// [kind, body]
struct Group {
    Node body;
};

struct IfClause {
    Node cond;
    Node body;
};

// The clauses of an If: a count, then each clause's condition and body.
class IfClauses {
public:
    IfClauses() = default;
    IfClauses(Node owner, const char* at) : list_(owner, at) {}
    class Iterator {
    public:
        explicit Iterator(NodeList::Iterator at) : at_(at) {}
        IfClause operator*() const {
            NodeList::Iterator body = at_;
            return {*at_, *++body};
        }
        Iterator& operator++() {
            ++ ++at_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        NodeList::Iterator at_;
    };
    Iterator begin() const { return Iterator(list_.begin()); }
    Iterator end() const { return Iterator(list_.end()); }
    std::size_t size() const { return list_.size() / 2; }

private:
    NodeList list_;  // counted in places: two for each clause
};

// `if a; then b; elif c; then d; else e; fi`: the clauses (a, b) and (c, d), then e.
// [kind, else or 0, count of places, clauses]
struct If {
    IfClauses clauses;  // the `if` clause, then each `elif`
    Node else_body;     // none without `else`
};

// [kind, body, place of the words' list, name, items, kEnd, the words' list]
struct For {
    Text var;
    WordList words;  // empty: iterate over the positional parameters
    Node body;
};

// `while` and `until`. [kind | flag for `until`, cond, body]
struct Loop {
    Node cond;
    Node body;
    bool until = false;
};

// [body, items]
struct CaseArm {
    Items<Word> patterns;  // at least one
    Node body;             // Empty for an arm with no commands
};

// The arms of a Case: a count, then the places of the arms.
class CaseArms {
public:
    CaseArms() = default;
    CaseArms(Node owner, const char* at) : list_(owner, at) {}
    class Iterator {
    public:
        explicit Iterator(NodeList::Iterator at) : at_(at) {}
        CaseArm operator*() const {
            const Node arm = *at_;
            return {Items<Word>(arm.record() + 4), arm.at(arm.record())};
        }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        NodeList::Iterator at_;
    };
    Iterator begin() const { return Iterator(list_.begin()); }
    Iterator end() const { return Iterator(list_.end()); }

private:
    NodeList list_;  // the places of the arms
};

// [kind, arms, word], the arms a count and their places
struct Case {
    Word word;
    CaseArms arms;
};

// [kind, body, name]
struct FunctionDef {
    Text name;
    Node body;
};

// Reads the node's record out as the struct of its kind and calls `f` with it.
template <class F>
decltype(auto) visit(const Node& node, F&& f) {
    const char* at = node.record() + 1;
    switch (node.kind()) {
        case NodeKind::Empty:
            return f(Empty{});
        case NodeKind::Simple:
            // A kind of item the command has none of is not looked for.
            return f(Simple{Items<Assignment>(node.has(kHasAssignments) ? at + 4 : nullptr),
                            WordList(node, node.follow(at)),
                            Items<Redirect>(node.has(kHasRedirects) ? at + 4 : nullptr)});
        case NodeKind::Pipeline:
            return f(Pipeline{NodeList(node, at)});
        case NodeKind::AndOr:
            return f(AndOr{node.at(at), node.at(at + 4), node.flag()});
        case NodeKind::Sequence:
            return f(Sequence{NodeList(node, at)});
        case NodeKind::Subshell:
            return f(Subshell{node.at(at)});
        case NodeKind::Group:
            return f(Group{node.at(at)});
        case NodeKind::If:
            return f(
                If{IfClauses(node, at + 4), tree_detail::read_u32(at) != 0 ? node.at(at) : Node()});
        case NodeKind::For:
            return f(For{Text(at + 8), WordList(node, node.follow(at + 4)), node.at(at)});
        case NodeKind::Loop:
            return f(Loop{node.at(at), node.at(at + 4), node.flag()});
        case NodeKind::Case:
            return f(Case{Word(at + 4), CaseArms(node, node.follow(at))});
        case NodeKind::FunctionDef:
            return f(FunctionDef{Text(at + 4), node.at(at)});
    }
    return f(Empty{});
}

// The node read out as a T, when it is one.
template <class T>
std::optional<T> as(const Node& node) {
    return visit(node, [](const auto& kind) -> std::optional<T> {
        if constexpr (std::is_same_v<std::decay_t<decltype(kind)>, T>) {
            return kind;
        } else {
            return std::nullopt;
        }
    });
}

// A parsed tree: its root and the memory that holds the root and everything below it. A
// copy shares the memory, so a function body kept as a tree of its own keeps its text alive
// for as long as the function is defined.
struct Tree {
    std::shared_ptr<const void> memory;
    Node root;
};

// True for a non-empty run of ASCII letters, digits and '_' not starting with a digit.
bool is_valid_name(std::string_view text);

// A compact one-line form of a tree for tests and debugging, e.g.
// `And(Simple{words=[a]}, Pipeline[Simple{words=[b]}, Simple{words=[c]}])`.
std::string dump_node(const Node& node);

}  // namespace kiln
