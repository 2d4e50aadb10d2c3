// Line layout on a wrapping console: every character is placed cell by cell as the console
// places it (a wide character that does not fit on a row starts the next one), so the cursor
// can be put back at the right row and column with relative moves only.
#include "editor/line_render.hpp"

#include <optional>

#include "common/text.hpp"
#include "editor/display_width.hpp"

namespace kiln {
namespace {

struct Pos {
    std::size_t row = 0;
    std::size_t col = 0;
};

// Tracks where the console puts each character.
class Cursor {
public:
    Cursor(std::size_t columns, std::size_t col) : columns_(columns), pos_{0, col} {}

    // Places a character of `width` columns; returns where it starts.
    Pos place(std::size_t width) {
        if (width > 0 && pos_.col + width > columns_ && pos_.col > 0) pos_ = {pos_.row + 1, 0};
        const Pos start = pos_.col >= columns_ ? Pos{pos_.row + 1, 0} : pos_;
        pos_.col += width;
        return start;
    }
    void place_text(std::string_view shown) {
        for (std::size_t i = 0; i < shown.size();) {
            const Decoded d = decode_utf8(shown, i);
            place(static_cast<std::size_t>(char_columns(d.cp)));
            i += d.len;
        }
    }
    // A full row leaves the console's cursor waiting at its end; the next character (or the
    // normalising blank written after the text) goes to the next row.
    Pos next_free() const { return pos_.col >= columns_ ? Pos{pos_.row + 1, 0} : pos_; }
    bool row_full() const { return pos_.col >= columns_; }

private:
    std::size_t columns_;
    Pos pos_;
};

void append_shown(std::string& out, char32_t cp) {
    if (cp < 0x20 || cp == 0x7F) {
        out += '^';
        out += static_cast<char>(cp ^ 0x40);
    } else if (cp >= 0x80 && cp < 0xA0) {
        append_utf8(out, 0xFFFD);
    } else {
        append_utf8(out, cp);
    }
}

void move_up(std::string& out, std::size_t rows) {
    if (rows > 0) out += "\x1b[" + std::to_string(rows) + "A";
}

void move_to_col(std::string& out, std::size_t col) {
    out += '\r';
    if (col > 0) out += "\x1b[" + std::to_string(col) + "C";
}

}  // namespace

std::string visible_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = decode_utf8(text, i);
        append_shown(out, d.cp);
        i += d.len;
    }
    return out;
}

Placement draw_line(std::string& out, const LineView& view, std::size_t columns,
                    const Placement& from) {
    if (columns == 0) columns = 1;
    const std::size_t origin = from.origin_col < columns ? from.origin_col : 0;
    move_up(out, from.cursor_row);
    move_to_col(out, origin);
    out += "\x1b[J";
    out += view.prompt;

    Cursor cursor(columns, origin);
    cursor.place_text(visible_text(view.plain_prompt));
    std::optional<Pos> at_cursor;
    for (std::size_t i = 0; i < view.text.size();) {
        const Decoded d = decode_utf8(view.text, i);
        std::string shown;
        append_shown(shown, d.cp);
        out += shown;
        std::optional<Pos> first;
        for (std::size_t j = 0; j < shown.size();) {
            const Decoded s = decode_utf8(shown, j);
            const Pos p = cursor.place(static_cast<std::size_t>(char_columns(s.cp)));
            if (!first) first = p;
            j += s.len;
        }
        if (i == view.cursor && !at_cursor) at_cursor = first;
        i += d.len;
    }
    if (cursor.row_full()) out += " \r\x1b[K";
    const Pos end = cursor.next_free();
    const Pos target = at_cursor.value_or(end);

    move_up(out, end.row - target.row);
    move_to_col(out, target.col);
    return {origin, target.row, end.row, end.col};
}

void leave_line(std::string& out, const Placement& at) {
    if (at.end_row > at.cursor_row)
        out += "\x1b[" + std::to_string(at.end_row - at.cursor_row) + "B";
    out += '\r';
    if (at.end_col > 0 || at.end_row == 0) out += '\n';
}

}  // namespace kiln
