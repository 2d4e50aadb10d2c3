// STUB: replaced by word expansion.
#include "expand/expand.hpp"
namespace kiln {
std::vector<std::string> expand_word(ShellState&, const Word&) { return {""}; }
std::string expand_word_single(ShellState&, const Word&) { return {}; }
std::string expand_params(ShellState&, std::string_view t) { return std::string(t); }
}  // namespace kiln
