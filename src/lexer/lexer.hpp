// The lexer: shell text to tokens, with quote removal. No expansion happens here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "lexer/token.hpp"

namespace kiln {

// Turns the whole text into tokens, or returns the error message
// ("unterminated single quote", "unterminated double quote", "nesting too deep" for `$(`).
Result<TokenList, std::string> tokenize(std::string_view text);

}  // namespace kiln
