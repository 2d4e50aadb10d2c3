// The lexer: shell text to tokens, with quote removal. No expansion happens here.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "lexer/token.hpp"

namespace kiln {

// Deeper nesting than this (of commands, or of `$(` in a word) is reported as an error
// instead of exhausting the stack.
inline constexpr int kMaxParseDepth = 1000;

// Turns the whole text into tokens, or returns the error message
// ("unterminated single quote", "unterminated double quote", "nesting too deep" for `$(`).
Result<TokenList, std::string> tokenize(std::string_view text);

// The tokens of a text a few at a time, as a parser takes them, so that the token list of a
// long text never exists whole beside its tree. The tokens and the error are tokenize's.
class TokenStream {
public:
    explicit TokenStream(std::string_view text);
    ~TokenStream();
    TokenStream(const TokenStream&) = delete;
    TokenStream& operator=(const TokenStream&) = delete;

    // Appends the next tokens, at least one, to `out`; false at the end of the text and, for
    // good, at an error.
    bool read(TokenList& out);
    // The error that stopped the stream, if any.
    const std::optional<std::string>& error() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kiln
