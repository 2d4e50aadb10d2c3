// The common prefix of the candidates and their column listing.
#include "editor/completion_listing.hpp"

#include <algorithm>

#include "common/text.hpp"
#include "editor/display_width.hpp"
#include "editor/line_render.hpp"

namespace kiln {

std::string common_prefix(const std::vector<std::string>& texts) {
    if (texts.empty()) return {};
    const std::string& first = texts.front();
    std::size_t n = first.size();
    for (const auto& t : texts) {
        std::size_t k = 0;
        while (k < n && k < t.size() && first[k] == t[k])
            ++k;
        n = k;
    }
    // Back to the last whole character of the first text.
    std::size_t cut = 0;
    while (cut < n) {
        const std::size_t len = decode_utf8(first, cut).len;
        if (cut + len > n) break;
        cut += len;
    }
    return first.substr(0, cut);
}

std::vector<std::string> listing_rows(const std::vector<std::string>& names, std::size_t columns) {
    if (names.empty()) return {};
    std::vector<std::string> shown;
    std::vector<std::size_t> widths;
    std::size_t widest = 0;
    for (const auto& name : names) {
        shown.push_back(visible_text(name));
        widths.push_back(text_columns(shown.back()));
        widest = std::max(widest, widths.back());
    }
    // Two blanks between columns; the last column needs no padding after it.
    const std::size_t cell = widest + 2;
    const std::size_t per_row = std::max<std::size_t>(1, (columns + 1) / cell);
    const std::size_t rows = (names.size() + per_row - 1) / per_row;
    std::vector<std::string> out(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < per_row; ++c) {
            const std::size_t i = c * rows + r;
            if (i >= names.size()) break;
            out[r] += shown[i];
            if (c + 1 < per_row && i + rows < names.size()) out[r].append(cell - widths[i], ' ');
        }
    }
    return out;
}

}  // namespace kiln
