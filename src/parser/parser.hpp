// The parser: tokens to one syntax tree, by recursive descent with one token of look-ahead.
#pragma once

#include <string>
#include <vector>

#include "common/result.hpp"
#include "lexer/token.hpp"
#include "parser/node.hpp"

namespace kiln {

// Deeper nesting than this is reported as an error instead of exhausting the stack.
inline constexpr int kMaxParseDepth = 1000;

// Parses the whole token list, or returns the first error message.
Result<Node, std::string> parse(TokenList tokens);

}  // namespace kiln
