// The line being edited: its UTF-8 text and the cursor, with the moves and edits that the
// editing keys are made of. A "character" here is a code point together with the zero-width
// marks that follow it, so the cursor never stops between a letter and its accent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiln {

struct EditLine {
    std::string text;
    std::size_t cursor = 0;  // byte offset, always on a character boundary
};

// The boundary after / before the character at `pos`; `pos` itself at the ends.
std::size_t next_char(std::string_view text, std::size_t pos);
std::size_t prev_char(std::string_view text, std::size_t pos);

// Words are runs of letters and digits (every non-blank character beyond ASCII counts as a
// letter). The end of the next word / the start of the previous one.
std::size_t next_word_end(std::string_view text, std::size_t pos);
std::size_t prev_word_start(std::string_view text, std::size_t pos);
// The start of the previous blank-separated word, as Ctrl-W erases it.
std::size_t prev_blank_word_start(std::string_view text, std::size_t pos);

// Inserts at the cursor and moves the cursor past the inserted text.
void insert_text(EditLine& line, std::string_view text);
// Removes [from, to) and returns it; the cursor keeps its place in the remaining text.
std::string erase_range(EditLine& line, std::size_t from, std::size_t to);
// Swaps the characters before and at the cursor (the last two at the end of the line) and
// moves the cursor past them. False when the line has fewer than two characters before the
// end or the cursor is at its start.
bool transpose_chars(EditLine& line);

}  // namespace kiln
