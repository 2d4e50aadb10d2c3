// Tokens: the flat output of the lexer. A word keeps, for each piece, how it was quoted, so
// that expansion can treat quoted and unquoted text differently.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kiln {

// Deeper nesting than this (of commands, or of `$(` in a word) is reported as an error
// instead of exhausting the stack.
inline constexpr int kMaxParseDepth = 1000;

enum class Quote { None, Single, Double };

namespace tok {

// One piece of a word after quote removal.
struct Seg {
    std::string text;
    Quote quote = Quote::None;
    bool operator==(const Seg&) const = default;
};

// The segments of one word as the lexer reads it; a finished word is never empty. Nearly
// every word is a single segment, so that one is held inline and only a word of several
// segments allocates a list.
class Segs {
public:
    using value_type = Seg;
    using iterator = Seg*;
    using const_iterator = const Seg*;
    using size_type = std::size_t;

    Segs() = default;
    explicit Segs(Seg seg) : v_(std::move(seg)) {}
    Segs(std::initializer_list<Seg> segs) {
        for (const Seg& seg : segs)
            push_back(seg);
    }
    Segs(const Segs&) = default;
    Segs& operator=(const Segs&) = default;
    // A moved-from word is empty, as a moved-from list would be.
    Segs(Segs&& other) noexcept : v_(std::move(other.v_)) { other.clear(); }
    Segs& operator=(Segs&& other) noexcept {
        if (this != &other) {
            v_ = std::move(other.v_);
            other.clear();
        }
        return *this;
    }
    ~Segs() = default;

    std::size_t size() const { return is_single() ? 1 : std::get<Many>(v_).size(); }
    bool empty() const { return size() == 0; }
    Seg* begin() { return is_single() ? &std::get<Seg>(v_) : std::get<Many>(v_).data(); }
    Seg* end() { return begin() + size(); }
    const Seg* begin() const {
        return is_single() ? &std::get<Seg>(v_) : std::get<Many>(v_).data();
    }
    const Seg* end() const { return begin() + size(); }
    Seg& operator[](std::size_t i) { return begin()[i]; }
    const Seg& operator[](std::size_t i) const { return begin()[i]; }

    void push_back(Seg seg) {
        if (is_single()) {
            Many many;
            many.reserve(2);
            many.push_back(std::move(std::get<Seg>(v_)));
            many.push_back(std::move(seg));
            v_ = std::move(many);
        } else if (std::get<Many>(v_).empty()) {
            v_.emplace<Seg>(std::move(seg));
        } else {
            std::get<Many>(v_).push_back(std::move(seg));
        }
    }
    void clear() noexcept { v_.emplace<Many>(); }

    bool operator==(const Segs& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

private:
    using Many = std::vector<Seg>;
    bool is_single() const { return std::holds_alternative<Seg>(v_); }

    std::variant<Many, Seg> v_;  // empty, one segment inline, or two and more
};

}  // namespace tok

enum class RedirOp { In, Out, Append };

namespace tok {
struct Word {
    Segs segs;
    bool operator==(const Word&) const = default;
};
struct Pipe {
    bool operator==(const Pipe&) const = default;
};
struct Semi {
    bool operator==(const Semi&) const = default;
};
struct DSemi {
    bool operator==(const DSemi&) const = default;
};
struct Amp {
    bool operator==(const Amp&) const = default;
};
struct AndAnd {
    bool operator==(const AndAnd&) const = default;
};
struct OrOr {
    bool operator==(const OrOr&) const = default;
};
struct Redir {
    std::optional<std::uint32_t> fd;  // absent: no digits, or digits too large
    RedirOp op = RedirOp::Out;
    bool operator==(const Redir&) const = default;
};
struct LParen {
    bool operator==(const LParen&) const = default;
};
struct RParen {
    bool operator==(const RParen&) const = default;
};
struct LBrace {
    bool operator==(const LBrace&) const = default;
};
struct RBrace {
    bool operator==(const RBrace&) const = default;
};
struct Newline {
    bool operator==(const Newline&) const = default;
};
}  // namespace tok

// The variants in their fixed order.
using Token =
    std::variant<tok::Word, tok::Pipe, tok::Semi, tok::DSemi, tok::Amp, tok::AndAnd, tok::OrOr,
                 tok::Redir, tok::LParen, tok::RParen, tok::LBrace, tok::RBrace, tok::Newline>;

// The lexer's output and the parser's input. A deque grows without moving what it holds and
// gives memory back from the front as the parser consumes it.
using TokenList = std::deque<Token>;

// Debug rendering used in parser messages: `Word([Seg { text: "ls", quote: None }])`,
// `Redir { fd: Some(2), op: Append }`, `RParen`.
std::string render_token(const Token& token);
// `None`, or `Some(` rendering `)`.
std::string render_optional_token(const Token* token);

}  // namespace kiln
