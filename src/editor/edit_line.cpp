// Character and word boundaries in UTF-8 text, and the edits built on them.
#include "editor/edit_line.hpp"

#include "common/text.hpp"
#include "editor/display_width.hpp"

namespace kiln {
namespace {

bool is_word_char(char32_t cp) {
    if (cp < 0x80) {
        return (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
    }
    return !is_unicode_space(cp);
}

char32_t char_at(std::string_view text, std::size_t pos) {
    return decode_utf8(text, pos).cp;
}

bool is_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The start of the code point that ends at `pos`, as a forward decoding would find it: the
// lead byte up to three bytes back when its sequence ends exactly at `pos`, else the single
// byte before `pos` (part of an invalid sequence, which decodes one byte at a time).
std::size_t prev_code_point(std::string_view text, std::size_t pos) {
    std::size_t start = pos - 1;
    while (start > 0 && is_continuation(text[start]) && pos - start < 4)
        --start;
    return start + decode_utf8(text, start).len == pos ? start : pos - 1;
}

char32_t char_before(std::string_view text, std::size_t pos) {
    return char_at(text, prev_char(text, pos));
}

}  // namespace

std::size_t next_char(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    pos += decode_utf8(text, pos).len;
    while (pos < text.size()) {
        const Decoded d = decode_utf8(text, pos);
        if (char_columns(d.cp) != 0) break;
        pos += d.len;
    }
    return pos;
}

std::size_t prev_char(std::string_view text, std::size_t pos) {
    if (pos > text.size()) pos = text.size();
    while (pos > 0) {
        pos = prev_code_point(text, pos);
        if (pos == 0 || char_columns(char_at(text, pos)) != 0) break;
    }
    return pos;
}

std::size_t next_word_end(std::string_view text, std::size_t pos) {
    while (pos < text.size() && !is_word_char(char_at(text, pos)))
        pos = next_char(text, pos);
    while (pos < text.size() && is_word_char(char_at(text, pos)))
        pos = next_char(text, pos);
    return pos;
}

std::size_t prev_word_start(std::string_view text, std::size_t pos) {
    while (pos > 0 && !is_word_char(char_before(text, pos)))
        pos = prev_char(text, pos);
    while (pos > 0 && is_word_char(char_before(text, pos)))
        pos = prev_char(text, pos);
    return pos;
}

std::size_t prev_blank_word_start(std::string_view text, std::size_t pos) {
    while (pos > 0 && is_unicode_space(char_before(text, pos)))
        pos = prev_char(text, pos);
    while (pos > 0 && !is_unicode_space(char_before(text, pos)))
        pos = prev_char(text, pos);
    return pos;
}

void insert_text(EditLine& line, std::string_view text) {
    line.text.insert(line.cursor, text);
    line.cursor += text.size();
}

std::string erase_range(EditLine& line, std::size_t from, std::size_t to) {
    if (to > line.text.size()) to = line.text.size();
    if (from >= to) return {};
    std::string removed = line.text.substr(from, to - from);
    line.text.erase(from, to - from);
    if (line.cursor >= to) {
        line.cursor -= to - from;
    } else if (line.cursor > from) {
        line.cursor = from;
    }
    return removed;
}

bool transpose_chars(EditLine& line) {
    if (line.cursor == 0) return false;
    std::size_t mid = line.cursor;
    if (mid == line.text.size()) mid = prev_char(line.text, mid);
    if (mid == 0) return false;
    const std::size_t start = prev_char(line.text, mid);
    const std::size_t end = next_char(line.text, mid);
    const std::string first = line.text.substr(start, mid - start);
    const std::string second = line.text.substr(mid, end - mid);
    line.text.replace(start, end - start, second + first);
    line.cursor = end;
    return true;
}

}  // namespace kiln
