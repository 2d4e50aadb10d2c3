// Character widths from a short table of ranges: enough for the scripts a shell line holds,
// without the full Unicode width tables.
#include "editor/display_width.hpp"

#include <algorithm>
#include <array>

#include "common/text.hpp"

namespace kiln {
namespace {

struct WidthRange {
    char32_t first;
    char32_t last;
};

constexpr bool contains(const auto& ranges, char32_t cp) {
    const auto it = std::lower_bound(ranges.begin(), ranges.end(), cp,
                                     [](const WidthRange& r, char32_t c) { return r.last < c; });
    return it != ranges.end() && it->first <= cp;
}

// Combining marks, zero-width spaces and joiners, variation selectors. Sorted.
constexpr std::array<WidthRange, 12> kZeroWidth{{
    {0x0300, 0x036F},
    {0x0483, 0x0489},
    {0x0591, 0x05BD},
    {0x0610, 0x061A},
    {0x064B, 0x065F},
    {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},
    {0x200B, 0x200F},
    {0x20D0, 0x20FF},
    {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},
    {0xE0100, 0xE01EF},
}};

// East Asian wide and full-width characters and the emoji blocks. Sorted.
constexpr std::array<WidthRange, 15> kWide{{
    {0x1100, 0x115F},
    {0x2E80, 0x303E},
    {0x3041, 0x33FF},
    {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},
    {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},
    {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
}};

}  // namespace

int char_columns(char32_t cp) {
    if (cp < 0x300) return 1;
    if (contains(kZeroWidth, cp)) return 0;
    return contains(kWide, cp) ? 2 : 1;
}

std::size_t text_columns(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = decode_utf8(text, i);
        n += static_cast<std::size_t>(char_columns(d.cp));
        i += d.len;
    }
    return n;
}

}  // namespace kiln
