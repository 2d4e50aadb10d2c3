// Carrying out the editor's escape sequences with the classic console calls.
#include "editor/console_screen.hpp"

#include <algorithm>
#include <charconv>

namespace kiln {

void ScreenOutput::write(std::string_view bytes) {
    if (vt_) {
        screen_.write_text(bytes);
        return;
    }
    // Text runs go out whole; each "ESC [ params final" in between becomes calls.
    while (!bytes.empty()) {
        const std::size_t esc = bytes.find("\x1b[");
        if (esc != 0) {
            screen_.write_text(bytes.substr(0, esc));
            if (esc == std::string_view::npos) return;
            bytes.remove_prefix(esc);
        }
        std::size_t end = 2;
        while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~'))
            ++end;
        if (end == bytes.size()) return;  // cut short: nothing to draw
        sequence(bytes.substr(2, end - 2), bytes[end]);
        bytes.remove_prefix(end + 1);
    }
}

// The sequences line_render.cpp and console_editor.cpp send: cursor up, down and right by N,
// erase to the end of the row or of the screen, home and clear the window, and colours.
void ScreenOutput::sequence(std::string_view params, char final) {
    ScreenInfo info;
    if (final == 'm' || !screen_.info(info) || info.columns == 0 || info.rows == 0) return;
    std::size_t n = 1;
    if (!params.empty()) std::from_chars(params.data(), params.data() + params.size(), n);
    ScreenPos at = info.cursor;
    const std::size_t to_row_end = info.columns - std::min(at.col, info.columns);
    switch (final) {
        case 'A':
            at.row -= std::min(at.row, n);
            return screen_.set_cursor(at);
        case 'B':
            at.row = std::min(at.row + n, info.rows - 1);
            return screen_.set_cursor(at);
        case 'C':
            at.col = std::min(at.col + n, info.columns - 1);
            return screen_.set_cursor(at);
        case 'K':
            return screen_.blank(at, to_row_end);
        case 'H':
            return screen_.set_cursor({0, info.window_top});
        case 'J':
            if (params == "2")
                return screen_.blank({0, info.window_top}, info.columns * info.window_rows);
            return screen_.blank(
                at, to_row_end + info.columns * (info.rows - 1 - std::min(at.row, info.rows - 1)));
        default:
            return;
    }
}

ConsoleSize ScreenOutput::size() {
    ScreenInfo info;
    if (!screen_.info(info)) return {};
    return {std::max<std::size_t>(info.columns, 1), std::max<std::size_t>(info.window_rows, 1)};
}

std::size_t ScreenOutput::cursor_col() {
    ScreenInfo info;
    return screen_.info(info) ? info.cursor.col : 0;
}

}  // namespace kiln
