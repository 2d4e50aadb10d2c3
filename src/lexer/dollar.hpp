// The dollar forms of a word's unquoted or double-quoted text: where each begins and ends and
// what it names. The one reading of `$name`, `${name}`, `$?` and `$(...)`; the tree keeps what
// it finds, and expansion walks that instead of reading the text again.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace kiln {

// One dollar form in a text, by its offsets in that text. A `$` that begins no form (the last
// character, `$%`, an unclosed `${` or `$(`) is not one: it is literal text.
struct DollarForm {
    enum class Kind : std::uint8_t { Parameter, Command };
    std::uint32_t start = 0;  // the `$`
    std::uint32_t end = 0;    // just past the form
    Kind kind = Kind::Parameter;

    // The parameter's name, or the command's text, in the text the form was found in.
    std::string_view inner(std::string_view text) const {
        const char* form = text.data() + start;
        const bool bracketed = form[1] == '{' || form[1] == '(';
        return bracketed ? std::string_view(form + 2, end - start - 3)
                         : std::string_view(form + 1, end - start - 1);
    }
};

// Where the command substitution whose text begins at `pos`, just after its `$(`, ends: the
// index just past its closing `)`, or npos when the text ends first. In unquoted text
// parentheses alone are counted, quotes and backslashes inside meaning nothing; `quoted` (the
// `$(` stands inside double quotes): quotes and backslashes inside hide what they quote, as
// in the command itself, so `"$(echo ")")"` is one word. Nesting deeper than the parser takes
// fails with "nesting too deep": each level would otherwise be lexed and parsed again, with a
// copy of the rest, before the parser refused it.
Result<std::size_t, std::string> find_command_end(std::string_view text, std::size_t pos,
                                                  bool quoted);

// The first dollar form at or after `pos`, if any. `quoted`: the text was written inside
// double quotes, where a command's own quotes hide its parentheses, as they did when the
// lexer took the word; in unquoted text parentheses alone are counted. Texts longer than the
// offsets can hold are not searched past that length.
std::optional<DollarForm> next_dollar_form(std::string_view text, std::size_t pos, bool quoted);

// Appends the dollar forms of a piece of a word to `out`, in one reading of its text: the
// command substitutions in `commands` (the lexer's, by their offsets in the piece before its
// first `skipped` bytes were left out of `text`) are taken as they are, not read again. `quoted` as
// for next_dollar_form. Returns true when a pattern character (`*`, `?`, `[`) stands outside the
// forms: what a variable or a command substitution yields, or holds in its text, is not typed.
bool read_dollar_forms(std::string_view text, bool quoted, std::span<const DollarForm> commands,
                       std::size_t skipped, std::vector<DollarForm>& out);

}  // namespace kiln
