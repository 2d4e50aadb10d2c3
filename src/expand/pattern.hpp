// Filename patterns: compiling a pattern and matching one whole string against it (the
// `case` command, and each path component in filename expansion, glob.hpp).
//
// The language:
//   ?        one character (a Unicode scalar value; an invalid UTF-8 byte counts as one)
//   *        any run of characters
//   **       as a whole path component: any number of directories, none included
//   [...]    one character of the set; `a-z` is an inclusive range of code points
//   [!...]   one character not in the set
// Everything else, `\` included, stands for itself; there is no escape character and no
// character class such as `[:alpha:]`. Matching is case-sensitive, and path separators and a
// leading `.` are ordinary characters for `?`, `*` and sets.
//
// Sets: the first character after `[` (or after `[!`) is always a member, so `[]]` matches
// `]` and `[!]]` anything else. A `-` first or last in the set is literal (`[a-]` holds `a`
// and `-`); a reversed range such as `[z-a]` holds nothing. `^` is an ordinary member.
//
// Malformed patterns: a `[` without its closing `]`, and a run of stars other than `*` or a
// `**` that is a whole component (`***`, `a**`, `**b`).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace kiln {

// One compiled element of a pattern.
struct PatternToken {
    enum class Kind { Char, Any, Star, AnyDirs, Set };
    struct Range {
        char32_t lo;
        char32_t hi;
    };
    Kind kind = Kind::Char;
    char32_t ch = 0;            // Char
    bool negated = false;       // Set
    bool with_sep = false;      // AnyDirs: the separator after `**` belongs to it
    std::vector<Range> ranges;  // Set; a single member is a range of one
};

class Pattern {
public:
    // The compiled pattern, or why the text is malformed.
    static Result<Pattern, std::string> compile(std::string_view text);

    // True when the whole subject matches.
    bool matches(std::string_view subject) const;

private:
    Pattern() = default;
    std::vector<PatternToken> tokens_;
    bool any_dirs_ = false;  // holds a `**`, which only the position-set walk can follow
};

// The index just after the `]` that closes the set opened by the `[` at `open`; npos when
// the set is unclosed. A separator inside a set does not split a path pattern.
std::size_t set_end(std::string_view text, std::size_t open);

// True when the text holds a pattern character: `*`, `?` or `[`.
bool has_pattern_chars(std::string_view text);

}  // namespace kiln
