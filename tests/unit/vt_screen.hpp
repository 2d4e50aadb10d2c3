// A small VT screen for the console editor's tests: it interprets the sequences the editor
// writes (text, CR, LF, cursor moves, erase in line and display, home; colours ignored) on a
// grid that grows downwards, so tests can compare what a console would show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/text.hpp"
#include "editor/display_width.hpp"

namespace kiln::testing {

class VtScreen {
public:
    // `deferred_wrap`: a full row keeps the cursor at its end until the next character, as
    // xterm and the VT mode of the Windows console do; otherwise it wraps at once, as the
    // older console does.
    explicit VtScreen(std::size_t columns, bool deferred_wrap = true)
        : columns_(columns), deferred_(deferred_wrap) {}

    void feed(std::string_view bytes) {
        for (std::size_t i = 0; i < bytes.size();) {
            if (bytes[i] == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                std::size_t end = i + 2;
                while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~'))
                    ++end;
                csi(bytes.substr(i + 2, end - i - 2), end < bytes.size() ? bytes[end] : '\0');
                i = end + 1;
                continue;
            }
            const Decoded d = decode_utf8(bytes, i);
            i += d.len;
            if (d.cp == '\r') {
                col_ = 0, pending_ = false;
            } else if (d.cp == '\n') {
                ++row_, pending_ = false;
            } else if (d.cp < 0x20) {
                bad_ = true;  // the editor never sends other controls
            } else {
                put(bytes.substr(i - d.len, d.len), char_columns(d.cp));
            }
        }
    }

    // The rows, blanks at their ends and empty rows at the end removed, joined with '\n'.
    std::string text() const {
        std::vector<std::string> lines;
        for (const auto& r : grid_) {
            std::string line;
            for (const auto& cell : r)
                line += cell;
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            lines.push_back(line);
        }
        while (!lines.empty() && lines.back().empty())
            lines.pop_back();
        std::string out;
        for (std::size_t i = 0; i < lines.size(); ++i)
            out += (i > 0 ? "\n" : "") + lines[i];
        return out;
    }
    std::size_t row() const { return row_; }
    std::size_t col() const { return col_; }
    // An unexpected control character or sequence was seen.
    bool saw_unknown() const { return bad_; }

private:
    void put(std::string_view ch, int width) {
        if (width == 0) {  // joins the previous cell
            if (col_ > 0) cell(row_, col_ - 1) += ch;
            return;
        }
        if (pending_ || col_ + static_cast<std::size_t>(width) > columns_) {
            ++row_, col_ = 0;
        }
        pending_ = false;
        cell(row_, col_) = std::string(ch);
        if (width == 2) cell(row_, col_ + 1) = "";
        col_ += static_cast<std::size_t>(width);
        if (col_ >= columns_) {
            if (deferred_) {
                col_ = columns_ - 1;
                pending_ = true;
            } else {
                ++row_, col_ = 0;
            }
        }
    }

    std::string& cell(std::size_t r, std::size_t c) {
        if (grid_.size() <= r) grid_.resize(r + 1);
        if (grid_[r].size() < columns_) grid_[r].resize(columns_, " ");
        return grid_[r][c];
    }

    void csi(std::string_view params, char final) {
        const std::size_t n =
            params.empty() || params[0] == '?' ? 1 : std::stoul(std::string(params));
        pending_ = false;
        switch (final) {
            case 'A':
                row_ = row_ >= n ? row_ - n : 0;
                break;
            case 'B':
                row_ += n;
                break;
            case 'C':
                col_ = std::min(col_ + n, columns_ - 1);
                break;
            case 'D':
                col_ = col_ >= n ? col_ - n : 0;
                break;
            case 'H':
                row_ = col_ = 0;
                break;
            case 'K':
                for (std::size_t c = col_; c < columns_; ++c)
                    cell(row_, c) = " ";
                break;
            case 'J':
                if (params == "2") {
                    grid_.clear();
                } else {
                    for (std::size_t c = col_; c < columns_; ++c)
                        cell(row_, c) = " ";
                    if (grid_.size() > row_ + 1) grid_.resize(row_ + 1);
                }
                break;
            case 'm':
                break;
            default:
                bad_ = true;
        }
    }

    std::size_t columns_;
    bool deferred_;
    std::vector<std::vector<std::string>> grid_;
    std::size_t row_ = 0;
    std::size_t col_ = 0;
    bool pending_ = false;
    bool bad_ = false;
};

}  // namespace kiln::testing
