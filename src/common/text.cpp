// Text helpers: UTF-8, white space and strict decimal numbers.
#include "common/text.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

namespace kiln {

Decoded decode_utf8(std::string_view text, std::size_t pos) {
    constexpr Decoded kBad{0xFFFD, 1};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) return {b0, 1};
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return kBad;
    }
    if (pos + len > text.size()) return kBad;
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return kBad;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kBad;
    return {cp, len};
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// Whether the eight bytes at `pos` are all ASCII.
bool eight_ascii(std::string_view text, std::size_t pos) {
    std::uint64_t eight = 0;
    std::memcpy(&eight, text.data() + pos, sizeof eight);
    return (eight & 0x8080808080808080U) == 0;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        // Scripts are mostly ASCII: eight bytes at a time while none has its high bit set.
        if (i + 8 <= text.size() && eight_ascii(text, i)) {
            i += 8;
            continue;
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = decode_utf8(text, i);
        if (d.cp == 0xFFFD && d.len == 1) return false;
        i += d.len;
    }
    return true;
}

std::string take_valid_utf8(std::string&& text) {
    if (is_valid_utf8(text)) return std::move(text);
    return to_valid_utf8(std::string_view(text));
}

std::string to_valid_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = decode_utf8(text, i);
        if (d.cp == 0xFFFD && d.len == 1) {
            append_utf8(out, 0xFFFD);
        } else {
            out.append(text.substr(i, d.len));
        }
        i += d.len;
    }
    return out;
}

bool is_unicode_space(char32_t cp) {
    switch (cp) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

std::string_view trim_unicode_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Decoded d = decode_utf8(text, begin);
        if (!is_unicode_space(d.cp)) break;
        begin += d.len;
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const Decoded d = decode_utf8(text, i);
        i += d.len;
        if (!is_unicode_space(d.cp)) end = i;
    }
    return text.substr(begin, end - begin);
}

namespace {

// Strict decimal: sign (if allowed), digits, nothing else.
template <class T>
std::optional<T> parse_decimal(std::string_view text, bool allow_minus) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || (allow_minus && text[0] == '-'))) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Parse the magnitude in the next wider unsigned type, then apply the sign with a range check.
    std::uint64_t magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    if (negative) {
        const auto limit = static_cast<std::uint64_t>(std::numeric_limits<T>::max()) + 1;
        if (magnitude > limit) return std::nullopt;
        return static_cast<T>(-static_cast<std::int64_t>(magnitude - 1) - 1);
    }
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return std::nullopt;
    return static_cast<T>(magnitude);
}

}  // namespace

std::optional<std::int64_t> parse_int64(std::string_view text) {
    return parse_decimal<std::int64_t>(text, true);
}
std::optional<std::int32_t> parse_int32(std::string_view text) {
    return parse_decimal<std::int32_t>(text, true);
}
std::optional<std::uint32_t> parse_uint32(std::string_view text) {
    return parse_decimal<std::uint32_t>(text, false);
}

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    // One decimal, rounded down so that the size never reads larger than it is.
    const auto tenths = static_cast<std::uint64_t>(value * 10);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit];
}

}  // namespace kiln
