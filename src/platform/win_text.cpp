// Windows text and path rules that need no system call.
#include "platform/win_text.hpp"

#include <algorithm>

#include "common/text.hpp"
#include "platform/shared_rules.hpp"

namespace kiln::platform::win {

namespace {

// The range the byte after a lead byte must fall in (overlong forms, surrogates and code
// points past U+10FFFF are ruled out there); {0, 0} for a byte that cannot lead.
struct SecondByte {
    unsigned char low = 0;
    unsigned char high = 0;
};

SecondByte second_byte_range(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xF4) {
        if (lead == 0xE0) return {0xA0, 0xBF};
        if (lead == 0xED) return {0x80, 0x9F};
        if (lead == 0xF0) return {0x90, 0xBF};
        if (lead == 0xF4) return {0x80, 0x8F};
        return {0x80, 0xBF};
    }
    return {};
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        const char32_t v = cp - 0x10000;
        out += static_cast<char16_t>(0xD800 + (v >> 10));
        out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
}

}  // namespace

std::u16string to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        const SecondByte second = second_byte_range(lead);
        if (second.high == 0) {
            out += static_cast<char16_t>(0xFFFD);
            ++i;
            continue;
        }
        const std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t cp = lead & (0x7F >> len);
        // Take continuation bytes while they fit; a sequence cut short or broken is replaced
        // by one U+FFFD for the bytes it had so far (its maximal valid beginning).
        std::size_t n = 1;
        while (n < len && i + n < text.size()) {
            const unsigned char b = byte(i + n);
            const bool fits = n == 1 ? (b >= second.low && b <= second.high) : (b & 0xC0) == 0x80;
            if (!fits) break;
            cp = (cp << 6) | (b & 0x3F);
            ++n;
        }
        if (n < len) {
            out += static_cast<char16_t>(0xFFFD);
        } else {
            append_utf16(out, cp);
        }
        i += n;
    }
    return out;
}

std::string to_utf8(std::u16string_view text, bool* valid) {
    std::string out;
    out.reserve(text.size());
    bool ok = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = 0xFFFD;
            ok = false;
        }
        append_utf8(out, cp);
    }
    if (valid != nullptr) *valid = ok;
    return out;
}

std::size_t console_chunk(std::u16string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    const char16_t last = text[limit - 1];
    return last >= 0xD800 && last <= 0xDBFF && limit > 1 ? limit - 1 : limit;
}

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

namespace {

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The end of the path component that starts at `pos`.
std::size_t component_end(std::string_view path, std::size_t pos) {
    while (pos < path.size() && !is_separator(path[pos]))
        ++pos;
    return pos;
}

// Whether the prefix is a share or device one (two separators first) rather than a drive.
bool is_share_prefix(std::string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

char upper_ascii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

}  // namespace

std::size_t prefix_length(std::string_view path) {
    if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') return 2;
    if (!is_share_prefix(path)) return 0;
    // \\?\ and \\.\ introduce a verbatim or device path: the prefix is the next component,
    // or two of them for \\?\UNC\server\share.
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && is_separator(path[3])) {
        std::size_t end = component_end(path, 4);
        const std::string_view first = path.substr(4, end - 4);
        if (first.size() == 3 && ends_with_nocase(first, "UNC") && end < path.size()) {
            end = component_end(path, component_end(path, end + 1) + 1);
        }
        return end;
    }
    // \\server\share
    const std::size_t server_end = component_end(path, 2);
    if (server_end == 2) return 0;  // no server name: just a root
    if (server_end >= path.size()) return path.size();
    return component_end(path, server_end + 1);
}

bool has_root(std::string_view path) {
    const std::size_t p = prefix_length(path);
    return (p < path.size() && is_separator(path[p])) || (p > 2 && is_share_prefix(path));
}

bool is_absolute(std::string_view path) {
    return prefix_length(path) > 0 && has_root(path);
}

std::string join_path(std::string_view base, std::string_view rel) {
    // A path with a prefix, absolute or not, replaces the base; a rooted one keeps only the
    // base's prefix.
    if (prefix_length(rel) > 0 || base.empty()) return std::string(rel);
    if (!rel.empty() && is_separator(rel[0])) {
        return std::string(base.substr(0, prefix_length(base))) + std::string(rel);
    }
    std::string out(base);
    const bool bare_drive = prefix_length(base) == 2 && base.size() == 2;
    if (!is_separator(out.back()) && !bare_drive) out += '\\';
    out += rel;
    return out;
}

std::string normalize_path(std::string_view path) {
    const std::size_t plen = prefix_length(path);
    std::string lead(path.substr(0, plen));
    if (has_root(path)) lead += '\\';
    return normalized_names(std::move(lead), path, plen, is_separator, '\\');
}

std::optional<char> relative_drive(std::string_view path) {
    if (prefix_length(path) != 2 || has_root(path)) return std::nullopt;
    return path[0];
}

std::string drive_directory(char drive, std::string_view cwd, std::string_view kept) {
    const auto on_drive = [&](std::string_view path) {
        return is_absolute(path) && prefix_length(path) == 2 &&
               lower_ascii(path[0]) == lower_ascii(drive);
    };
    if (on_drive(cwd)) return std::string(cwd);
    if (on_drive(kept)) return std::string(kept);
    return {upper_ascii(drive), ':', '\\'};
}

std::string drive_variable(char drive) {
    return {'=', upper_ascii(drive), ':'};
}

std::string extended_path(std::string_view path) {
    const bool verbatim = path.size() >= 4 && is_share_prefix(path) &&
                          (path[2] == '?' || path[2] == '.') && is_separator(path[3]);
    if (verbatim || !is_absolute(path)) return std::string(path);
    std::string out = normalize_path(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    if (is_share_prefix(out)) return "\\\\?\\UNC\\" + out.substr(2);
    return "\\\\?\\" + out;
}

bool is_device_name(std::string_view path) {
    std::string_view name = path.substr(path.find_last_of("\\/:") + 1);
    name = name.substr(0, name.find('.'));
    name = name.substr(0, name.find_last_not_of(' ') + 1);
    for (std::string_view device : {"nul", "con", "prn", "aux"}) {
        if (name.size() == 3 && ends_with_nocase(name, device)) return true;
    }
    return name.size() == 4 &&
           (ends_with_nocase(name.substr(0, 3), "com") ||
            ends_with_nocase(name.substr(0, 3), "lpt")) &&
           name[3] >= '1' && name[3] <= '9';
}

std::vector<std::string> split_path_list(std::string_view value) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (const char c : value) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::vector<std::string> split_pathext(std::string_view value) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t semi = value.find(';', start);
        pieces.emplace_back(value.substr(start, semi - start));
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    return pieces;
}

bool ends_with_nocase(std::string_view name, std::string_view suffix) {
    if (suffix.size() > name.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (lower_ascii(tail[i]) != lower_ascii(suffix[i])) return false;
    }
    return true;
}

bool is_batch_file(std::string_view path) {
    return ends_with_nocase(path, ".bat") || ends_with_nocase(path, ".cmd");
}

std::string backslashed(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

}  // namespace kiln::platform::win
