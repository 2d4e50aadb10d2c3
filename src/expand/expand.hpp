// Word expansion: tilde, dollar forms, $(...), field splitting and filename patterns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "parser/node.hpp"
#include "state/state.hpp"

namespace kiln {

// A word to its fields (at least one), split and matched against file names.
std::vector<std::string> expand_word(ShellState& state, const Word& word);
// The same fields appended to `fields`, which may hold those of earlier words.
void expand_word_into(ShellState& state, const Word& word, std::vector<std::string>& fields);
// A word to exactly one string: no splitting, no filename patterns.
std::string expand_word_single(ShellState& state, const Word& word);
// The dollar expansion of one piece of text.
std::string expand_params(ShellState& state, std::string_view text);
// Appends a finished field: unchanged, or, when it carries the pattern flag and holds a
// pattern character, replaced by the paths it matches (kept as typed when malformed or when
// nothing matches).
void finish_field(std::vector<std::string>& fields, std::string text, bool pattern);

}  // namespace kiln
