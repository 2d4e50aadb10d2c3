// How many console columns a character takes: 0 for combining marks and other zero-width
// characters, 2 for wide East Asian characters and emoji, 1 for the rest.
#pragma once

#include <cstddef>
#include <string_view>

namespace kiln {

int char_columns(char32_t cp);

// The columns of a whole UTF-8 text (an invalid sequence counts as one U+FFFD).
std::size_t text_columns(std::string_view text);

}  // namespace kiln
