// The parser: tokens to one syntax tree, by recursive descent with one token of look-ahead.
#pragma once

#include <string>
#include <vector>

#include "common/result.hpp"
#include "lexer/token.hpp"
#include "parser/node.hpp"

namespace kiln {

// Parses the whole token list, or returns the first error message.
Result<Node, std::string> parse(TokenList tokens);

}  // namespace kiln
