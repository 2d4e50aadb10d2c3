// A small VT screen for the console editor's tests: it interprets what the editor writes
// (text, CR, LF, cursor up, down and right, erase in line and display, home; colours ignored)
// on a grid that grows downwards, so tests can compare what a console would show.
#pragma once

#include <string>
#include <vector>

#include "common/text.hpp"
#include "editor/display_width.hpp"

namespace kiln::testing {

class VtScreen {
public:
    // `deferred_wrap`: a full row keeps the cursor at its end until the next character, as
    // xterm and the VT mode of the Windows console do; otherwise it wraps at once, as the
    // older console does.
    VtScreen(std::size_t columns, bool deferred_wrap)
        : columns_(columns), deferred_(deferred_wrap) {}

    void feed(std::string_view bytes) {
        for (std::size_t i = 0; i < bytes.size();) {
            if (bytes.substr(i, 2) == "\x1b[") {
                std::size_t end = i + 2;
                while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~'))
                    ++end;
                csi(bytes.substr(i + 2, end - i - 2), end < bytes.size() ? bytes[end] : '\0');
                i = end + 1;
                continue;
            }
            const Decoded d = decode_utf8(bytes, i);
            if (d.cp == '\r') {
                col_ = 0, pending_ = false;
            } else if (d.cp == '\n') {
                ++row_, pending_ = false;
            } else {
                bad_ |= d.cp < 0x20;  // the editor sends no other control character
                put(bytes.substr(i, d.len), static_cast<std::size_t>(char_columns(d.cp)));
            }
            i += d.len;
        }
    }

    // The rows without blanks at their ends and without empty rows at the end.
    std::string text() const {
        std::string out;
        for (const auto& row : grid_) {
            std::string line;
            for (const auto& cell : row)
                line += cell;
            out += line.erase(line.find_last_not_of(' ') + 1) + "\n";
        }
        return out.erase(out.find_last_not_of('\n') + 1);
    }
    std::size_t row() const { return row_; }
    std::size_t col() const { return col_; }
    bool saw_unknown() const { return bad_; }  // an unexpected control character or sequence

private:
    void put(std::string_view ch, std::size_t width) {
        if (width == 0) {  // joins the previous cell
            if (col_ > 0) cell(col_ - 1) += ch;
            return;
        }
        if (pending_ || col_ + width > columns_) ++row_, col_ = 0;
        pending_ = false;
        cell(col_) = ch;
        if (width == 2) cell(col_ + 1) = "";
        col_ += width;
        if (col_ < columns_) return;
        if (deferred_) {
            col_ = columns_ - 1, pending_ = true;
        } else {
            ++row_, col_ = 0;
        }
    }

    std::string& cell(std::size_t c) {
        if (grid_.size() <= row_) grid_.resize(row_ + 1);
        grid_[row_].resize(columns_, " ");
        return grid_[row_][c];
    }

    void csi(std::string_view params, char final) {
        const bool plain = params.empty();
        const std::size_t n = plain ? 1 : std::stoul(std::string(params));
        pending_ = false;
        if (final == 'A') {
            row_ -= std::min(row_, n);
        } else if (final == 'B') {
            row_ += n;
        } else if (final == 'C') {
            col_ = std::min(col_ + n, columns_ - 1);
        } else if (final == 'H' && plain) {
            row_ = col_ = 0;
        } else if (final == 'J' && params == "2") {
            grid_.clear();
        } else if ((final == 'K' || final == 'J') && plain) {  // to the end of the row, or screen
            for (std::size_t c = col_; c < columns_; ++c)
                cell(c) = " ";
            if (final == 'J' && grid_.size() > row_ + 1) grid_.resize(row_ + 1);
        } else {
            bad_ |= final != 'm';
        }
    }

    std::size_t columns_;
    bool deferred_;
    std::vector<std::vector<std::string>> grid_;
    std::size_t row_ = 0, col_ = 0;
    bool pending_ = false, bad_ = false;
};

}  // namespace kiln::testing
