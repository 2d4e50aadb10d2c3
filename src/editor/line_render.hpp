// Drawing the prompt and the edited line on a console that wraps long lines, with VT
// sequences only. The whole line is redrawn each time, from the prompt's first row.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiln {

// The text as it is shown: control characters as ^X, invalid UTF-8 and C1 controls as U+FFFD,
// so that nothing typed or recalled can send a sequence to the console.
std::string visible_text(std::string_view text);

struct LineView {
    std::string_view prompt;        // as written, colours included
    std::string_view plain_prompt;  // the same characters without colours: widths come from it
    std::string_view text;
    std::size_t cursor = 0;  // byte offset into text
};

// Where the drawing starts and ends, in rows below the prompt's first row.
struct Placement {
    std::size_t origin_col = 0;  // the column the prompt starts at
    std::size_t cursor_row = 0;
    std::size_t end_row = 0;
    std::size_t end_col = 0;  // below `columns`: a full last row moves the end to the next row
};

// Appends to `out` the bytes that go back to the prompt's first row (the cursor being
// `from.cursor_row` rows below it), clear the rest of the screen, draw prompt and text, and
// leave the cursor at the cursor's character. Returns where things are afterwards.
Placement draw_line(std::string& out, const LineView& view, std::size_t columns,
                    const Placement& from);

// Appends the bytes that take the cursor from its place to the start of a fresh row below
// the drawn line.
void leave_line(std::string& out, const Placement& at);

}  // namespace kiln
