// Small text helpers shared by every layer: UTF-8 decoding, Unicode white space, and the
// strict decimal parsing that several builtins use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiln {

// Decodes one UTF-8 sequence at `pos`: the code point, or U+FFFD for an invalid sequence,
// and the number of bytes consumed (at least 1 while pos < text.size()).
struct Decoded {
    char32_t cp;
    std::size_t len;
};
Decoded decode_utf8(std::string_view text, std::size_t pos);

void append_utf8(std::string& out, char32_t cp);

bool is_valid_utf8(std::string_view text);
// Each invalid sequence replaced by U+FFFD; valid text is returned unchanged.
std::string to_valid_utf8(std::string_view text);
// The same for a string given whole: valid text is moved, not copied.
std::string take_valid_utf8(std::string&& text);

// Unicode White_Space.
bool is_unicode_space(char32_t cp);

// Strips Unicode white space from both ends.
std::string_view trim_unicode_space(std::string_view text);

// An optional leading sign (only "+" for the unsigned parser), then one or more ASCII
// digits and nothing else; absent on anything else or overflow.
std::optional<std::int64_t> parse_int64(std::string_view text);
std::optional<std::int32_t> parse_int32(std::string_view text);
std::optional<std::uint32_t> parse_uint32(std::string_view text);

// A byte count for people: "900 bytes", "12.0 KiB", "1.4 GiB".
std::string format_size(std::uint64_t bytes);

}  // namespace kiln
