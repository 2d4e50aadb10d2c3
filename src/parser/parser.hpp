// The parser: tokens to one syntax tree, by recursive descent with one token of look-ahead.
#pragma once

#include <string>
#include <vector>

#include "common/result.hpp"
#include "lexer/lexer.hpp"
#include "lexer/token.hpp"
#include "parser/node.hpp"

namespace kiln {

// Parses the whole token list, or returns the first error message. The tree holds its nodes
// and texts in memory of its own, released at once when the tree and every function defined
// in it are gone.
Result<Tree, std::string> parse(TokenList tokens);

// Lexes and parses the whole text, the parser taking the tokens as it needs them; the first
// error, an error of the lexer anywhere in the text coming before one of the parser.
Result<Tree, std::string> parse_text(std::string_view text);

// The tree of a command substitution's text, or the error of its parse: parsed at the first
// call and kept by the tree that holds the substitution for the calls after it.
const Result<Tree, std::string>& parse_command_text(const CommandCell& cell, std::string_view text);

}  // namespace kiln
