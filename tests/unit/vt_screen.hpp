// A small VT screen for the console editor's tests: it interprets what the editor writes
// (text, CR, LF, cursor up, down and right, erase in line and display, home; colours ignored)
// on a grid that grows downwards, so tests can compare what a console would show. It takes
// the classic console's calls too.
#pragma once

#include <optional>
#include <string>
#include <utility>
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
    // What the classic console's calls do: the cursor put anywhere, cells blanked in place.
    void move_to(std::size_t row, std::size_t col) {
        row_ = row, col_ = std::min(col, columns_ - 1), pending_ = false;
        last_.reset();
    }
    void blank(std::size_t row, std::size_t col, std::size_t count) {
        for (std::size_t i = row * columns_ + col; count > 0 && i / columns_ < grid_.size();
             ++i, --count)
            cell_at({i / columns_, i % columns_}) = " ";
    }
    bool saw_unknown() const { return bad_; }  // an unexpected control character or sequence

private:
    void put(std::string_view ch, std::size_t width) {
        if (width == 0) {  // joins the cell written last, also across a wrap
            if (last_) cell_at(*last_) += ch;
            return;
        }
        if (pending_ || col_ + width > columns_) ++row_, col_ = 0;
        pending_ = false;
        cell(col_) = ch;
        last_ = {row_, col_};
        if (width == 2) cell(col_ + 1) = "";
        col_ += width;
        if (col_ < columns_) return;
        if (deferred_) {
            col_ = columns_ - 1, pending_ = true;
        } else {
            ++row_, col_ = 0;
        }
    }

    std::string& cell(std::size_t c) { return cell_at({row_, c}); }
    std::string& cell_at(std::pair<std::size_t, std::size_t> at) {
        if (grid_.size() <= at.first) grid_.resize(at.first + 1);
        grid_[at.first].resize(columns_, " ");
        return grid_[at.first][at.second];
    }

    void csi(std::string_view params, char final) {
        const bool plain = params.empty();
        const std::size_t n = plain ? 1 : std::stoul(std::string(params));
        if (final == 'm') return;  // colours leave a pending wrap pending
        pending_ = false;
        last_.reset();
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
            blank(row_, col_, columns_ - col_);
            if (final == 'J' && grid_.size() > row_ + 1) grid_.resize(row_ + 1);
        } else {
            bad_ = true;
        }
    }

    std::size_t columns_;
    bool deferred_;
    std::vector<std::vector<std::string>> grid_;
    std::size_t row_ = 0, col_ = 0;
    bool pending_ = false, bad_ = false;
    std::optional<std::pair<std::size_t, std::size_t>> last_;  // row and column
};

}  // namespace kiln::testing
