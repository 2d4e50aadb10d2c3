// Tokens: the flat output of the lexer. A word keeps, for each piece, how it was quoted, so
// that expansion can treat quoted and unquoted text differently.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lexer/tok_segs.hpp"

namespace kiln {

enum class RedirOp { In, Out, Append };

// The word token: a word's pieces, never empty.
struct TokWord {
    TokSegs segs;
    bool operator==(const TokWord&) const = default;
};

namespace tok {
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
    std::variant<TokWord, tok::Pipe, tok::Semi, tok::DSemi, tok::Amp, tok::AndAnd, tok::OrOr,
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
