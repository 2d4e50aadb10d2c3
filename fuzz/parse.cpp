// Text to tokens to a tree to its one-line dump. Parsing the same text twice must give the
// same dump (or the same error).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lexer/lexer.hpp"
#include "parser/parser.hpp"

namespace {

std::string dump_of(std::string_view text) {
    auto tokens = kiln::tokenize(text);
    if (!tokens) return "lex error: " + tokens.error();
    auto tree = kiln::parse(std::move(*tokens));
    if (!tree) return "parse error: " + tree.error();
    return kiln::dump_node(tree->root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (dump_of(text) != dump_of(text)) std::abort();
    return 0;
}
