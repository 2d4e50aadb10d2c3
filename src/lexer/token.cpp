// Debug rendering of tokens, as parser messages show them: `Word([Seg { text: "ls", quote:
// None }])`, `Redir { fd: Some(2), op: Append }`, `RParen`.
#include "lexer/token.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

#include "common/text.hpp"

namespace kiln {
namespace {

struct EscapedRange {
    char32_t first;
    char32_t last;
};

// Characters written as \u{...} in quoted strings, beside the control characters: white space
// other than the blank, line and paragraph separators, format characters, private use, and
// combining marks (the common Mn/Me ranges), which would otherwise attach to the character
// before them or not show at all. Sorted and disjoint, for binary search.
constexpr std::array kEscapedRanges = std::to_array<EscapedRange>({
    {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x0300, 0x036F},   {0x0483, 0x0489},
    {0x0591, 0x05BD},   {0x05BF, 0x05BF},   {0x05C1, 0x05C2},   {0x05C4, 0x05C5},
    {0x05C7, 0x05C7},   {0x0600, 0x0605},   {0x0610, 0x061A},   {0x061C, 0x061C},
    {0x064B, 0x065F},   {0x0670, 0x0670},   {0x06D6, 0x06DD},   {0x06DF, 0x06E4},
    {0x06E7, 0x06E8},   {0x06EA, 0x06ED},   {0x070F, 0x070F},   {0x0711, 0x0711},
    {0x0730, 0x074A},   {0x07A6, 0x07B0},   {0x07EB, 0x07F3},   {0x07FD, 0x07FD},
    {0x0816, 0x0819},   {0x081B, 0x0823},   {0x0825, 0x0827},   {0x0829, 0x082D},
    {0x0859, 0x085B},   {0x0890, 0x0891},   {0x0898, 0x089F},   {0x08CA, 0x0902},
    {0x093A, 0x093A},   {0x093C, 0x093C},   {0x0941, 0x0948},   {0x094D, 0x094D},
    {0x0951, 0x0957},   {0x0962, 0x0963},   {0x0981, 0x0981},   {0x09BC, 0x09BC},
    {0x09C1, 0x09C4},   {0x09CD, 0x09CD},   {0x09E2, 0x09E3},   {0x0A01, 0x0A02},
    {0x0A3C, 0x0A3C},   {0x0A41, 0x0A42},   {0x0A47, 0x0A48},   {0x0A4B, 0x0A4D},
    {0x0A70, 0x0A71},   {0x0A81, 0x0A82},   {0x0ABC, 0x0ABC},   {0x0AC1, 0x0AC5},
    {0x0AC7, 0x0AC8},   {0x0ACD, 0x0ACD},   {0x0B01, 0x0B01},   {0x0B3C, 0x0B3C},
    {0x0B3F, 0x0B3F},   {0x0B41, 0x0B44},   {0x0B4D, 0x0B4D},   {0x0BC0, 0x0BC0},
    {0x0BCD, 0x0BCD},   {0x0C3E, 0x0C40},   {0x0C46, 0x0C48},   {0x0C4A, 0x0C4D},
    {0x0CBC, 0x0CBC},   {0x0CCC, 0x0CCD},   {0x0D41, 0x0D44},   {0x0D4D, 0x0D4D},
    {0x0DCA, 0x0DCA},   {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},
    {0x0EB1, 0x0EB1},   {0x0EB4, 0x0EBC},   {0x0EC8, 0x0ECE},   {0x0F18, 0x0F19},
    {0x0F35, 0x0F35},   {0x0F37, 0x0F37},   {0x0F39, 0x0F39},   {0x0F71, 0x0F7E},
    {0x0F80, 0x0F84},   {0x0F86, 0x0F87},   {0x0F8D, 0x0FBC},   {0x102D, 0x1030},
    {0x1032, 0x1037},   {0x1039, 0x103A},   {0x1680, 0x1680},   {0x1712, 0x1714},
    {0x17B4, 0x17B5},   {0x17B7, 0x17BD},   {0x17C6, 0x17C6},   {0x17C9, 0x17D3},
    {0x17DD, 0x17DD},   {0x180B, 0x180F},   {0x1A17, 0x1A18},   {0x1AB0, 0x1ACE},
    {0x1B00, 0x1B03},   {0x1B34, 0x1B34},   {0x1B36, 0x1B3A},   {0x1DC0, 0x1DFF},
    {0x2000, 0x200F},   {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},
    {0x20D0, 0x20F0},   {0x2CEF, 0x2CF1},   {0x2DE0, 0x2DFF},   {0x3000, 0x3000},
    {0x302A, 0x302F},   {0x3099, 0x309A},   {0xA66F, 0xA672},   {0xA674, 0xA67D},
    {0xA69E, 0xA69F},   {0xA6F0, 0xA6F1},   {0xA802, 0xA802},   {0xA806, 0xA806},
    {0xA80B, 0xA80B},   {0xA825, 0xA826},   {0xA8C4, 0xA8C5},   {0xA8E0, 0xA8F1},
    {0xE000, 0xF8FF},   {0xFB1E, 0xFB1E},   {0xFDD0, 0xFDEF},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x101FD, 0x101FD},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D165, 0x1D169}, {0x1D16D, 0x1D182}, {0x1D185, 0x1D18B}, {0x1D1AA, 0x1D1AD},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF}, {0xF0000, 0x10FFFF},
});

constexpr bool sorted_and_disjoint() {
    for (std::size_t i = 0; i < kEscapedRanges.size(); ++i) {
        if (kEscapedRanges[i].first > kEscapedRanges[i].last) return false;
        if (i > 0 && kEscapedRanges[i - 1].last >= kEscapedRanges[i].first) return false;
    }
    return true;
}
static_assert(sorted_and_disjoint());

bool needs_escape(char32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;
    if ((cp & 0xFFFE) == 0xFFFE) return true;  // the two noncharacters at the end of each plane
    const auto it = std::upper_bound(kEscapedRanges.begin(), kEscapedRanges.end(), cp,
                                     [](char32_t c, const EscapedRange& r) { return c < r.first; });
    return it != kEscapedRanges.begin() && cp <= std::prev(it)->last;
}

void append_hex_escape(std::string& out, char32_t cp) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[cp & 0xF]);
        cp >>= 4;
    } while (cp != 0);
    out += "\\u{" + hex + "}";
}

void append_escaped(std::string& out, char32_t cp) {
    switch (cp) {
        case U'\\':
            out += "\\\\";
            return;
        case U'"':
            out += "\\\"";
            return;
        case U'\t':
            out += "\\t";
            return;
        case U'\r':
            out += "\\r";
            return;
        case U'\n':
            out += "\\n";
            return;
        case U'\0':
            out += "\\0";
            return;
        default:
            break;
    }
    if (needs_escape(cp)) {
        append_hex_escape(out, cp);
    } else {
        append_utf8(out, cp);
    }
}

// An invalid byte in the text shows as U+FFFD, so that messages are always valid UTF-8.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = decode_utf8(text, i);
        append_escaped(out, d.cp);
        i += d.len;
    }
    out += '"';
    return out;
}

std::string_view quote_name(Quote q) {
    switch (q) {
        case Quote::None:
            return "None";
        case Quote::Single:
            return "Single";
        case Quote::Double:
            return "Double";
    }
    return "None";
}

std::string_view redir_op_name(RedirOp op) {
    switch (op) {
        case RedirOp::In:
            return "In";
        case RedirOp::Out:
            return "Out";
        case RedirOp::Append:
            return "Append";
    }
    return "Out";
}

std::string render_word(const TokWord& word) {
    std::string out = "Word([";
    for (std::size_t i = 0; i < word.segs.size(); ++i) {
        if (i > 0) out += ", ";
        out += "Seg { text: " + quoted(word.segs[i].text) + ", quote: ";
        out += quote_name(word.segs[i].quote);
        out += " }";
    }
    return out + "])";
}

std::string render_redir(const tok::Redir& redir) {
    std::string out = "Redir { fd: ";
    out += redir.fd ? "Some(" + std::to_string(*redir.fd) + ")" : "None";
    out += ", op: ";
    out += redir_op_name(redir.op);
    return out + " }";
}

template <class T>
constexpr std::string_view plain_name() {
    if constexpr (std::is_same_v<T, tok::Pipe>) return "Pipe";
    if constexpr (std::is_same_v<T, tok::Semi>) return "Semi";
    if constexpr (std::is_same_v<T, tok::DSemi>) return "DSemi";
    if constexpr (std::is_same_v<T, tok::Amp>) return "Amp";
    if constexpr (std::is_same_v<T, tok::AndAnd>) return "AndAnd";
    if constexpr (std::is_same_v<T, tok::OrOr>) return "OrOr";
    if constexpr (std::is_same_v<T, tok::LParen>) return "LParen";
    if constexpr (std::is_same_v<T, tok::RParen>) return "RParen";
    if constexpr (std::is_same_v<T, tok::LBrace>) return "LBrace";
    if constexpr (std::is_same_v<T, tok::RBrace>) return "RBrace";
    if constexpr (std::is_same_v<T, tok::Newline>) return "Newline";
}

}  // namespace

std::string render_token(const Token& token) {
    return std::visit(
        [](const auto& t) -> std::string {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, TokWord>) {
                return render_word(t);
            } else if constexpr (std::is_same_v<T, tok::Redir>) {
                return render_redir(t);
            } else {
                return std::string(plain_name<T>());
            }
        },
        token);
}

std::string render_optional_token(const Token* token) {
    return token ? "Some(" + render_token(*token) + ")" : "None";
}

}  // namespace kiln
