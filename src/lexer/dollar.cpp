// Reading dollar forms: names, braces and the end of a command substitution.
#include "lexer/dollar.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "lexer/lexer.hpp"

namespace kiln {
namespace {

bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_name_char(char c) {
    return is_name_start(c) || (c >= '0' && c <= '9');
}

// The index of the bracket that closes the one at `open`, counting nesting from 1; npos when
// there is none. Quotes play no part.
std::size_t find_closing(std::string_view text, std::size_t open, char opener, char closer) {
    std::size_t depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == opener) {
            ++depth;
        } else if (text[i] == closer && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

// Unquoted, parentheses alone are counted: quotes and backslashes inside mean nothing here.
Result<std::size_t, std::string> find_unquoted_command_end(std::string_view text, std::size_t pos) {
    std::size_t depth = 1;
    for (; pos < text.size(); ++pos) {
        if (text[pos] == ')') {
            if (--depth == 0) return pos + 1;
        } else if (text[pos] == '(' && ++depth > static_cast<std::size_t>(kMaxParseDepth)) {
            return fail(std::string("nesting too deep"));
        }
    }
    return std::string_view::npos;
}

// Inside double quotes the levels still open are kept in a string: `)` for a parenthesis or
// `$(`, `"` for double quotes inside the command. Single quotes and backslashes are skipped
// over in place.
Result<std::size_t, std::string> find_quoted_command_end(std::string_view text, std::size_t pos) {
    std::string open(1, ')');
    while (pos < text.size()) {
        const char c = text[pos];
        const bool quoted = open.back() == '"';
        if (c == '\\') {
            pos += 2;
        } else if (quoted && c == '"') {
            open.pop_back();
            ++pos;
        } else if (quoted) {
            const bool nested = c == '$' && pos + 1 < text.size() && text[pos + 1] == '(';
            if (nested) open += ')';
            pos += nested ? 2 : 1;
        } else if (c == '\'') {
            pos = text.find('\'', pos + 1);
            if (pos == std::string_view::npos) break;
            ++pos;
        } else if (c == '"' || c == '(') {
            open += c == '"' ? '"' : ')';
            ++pos;
        } else if (c == ')') {
            open.pop_back();
            ++pos;
            if (open.empty()) return pos;
        } else {
            ++pos;
        }
        if (open.size() > static_cast<std::size_t>(kMaxParseDepth)) {
            return fail(std::string("nesting too deep"));
        }
    }
    return std::string_view::npos;
}

// The index of the `)` that closes the command whose text begins at `pos`; npos when there is
// none, or when it nests too deeply to be taken as a command.
std::size_t command_close(std::string_view text, std::size_t pos, bool quoted) {
    const auto end = find_command_end(text, pos, quoted);
    return end && *end != std::string_view::npos ? *end - 1 : std::string_view::npos;
}

// The form at `pos`, a '$' that is not the last character; its end is `pos + 1` when the
// '$' begins no form.
DollarForm read_form(std::string_view text, std::size_t pos, bool quoted) {
    using Kind = DollarForm::Kind;
    const auto form = [pos](Kind kind, std::size_t end) {
        return DollarForm{static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(end), kind};
    };
    const char c = text[pos + 1];
    if (c == '?' || c == '$' || c == '#' || c == '*' || c == '@' || (c >= '0' && c <= '9')) {
        return form(Kind::Parameter, pos + 2);  // $10 is $1 and a 0
    }
    if (c == '{' || c == '(') {
        const std::size_t close =
            c == '{' ? find_closing(text, pos + 1, '{', '}') : command_close(text, pos + 2, quoted);
        if (close == std::string_view::npos) return form(Kind::Parameter, pos + 1);
        return form(c == '{' ? Kind::Parameter : Kind::Command, close + 1);
    }
    if (is_name_start(c)) {
        std::size_t end = pos + 2;
        while (end < text.size() && is_name_char(text[end]))
            ++end;
        return form(Kind::Parameter, end);
    }
    return form(Kind::Parameter, pos + 1);  // "$%", "$-", "$!" stay as typed
}

}  // namespace

Result<std::size_t, std::string> find_command_end(std::string_view text, std::size_t pos,
                                                  bool quoted) {
    return quoted ? find_quoted_command_end(text, pos) : find_unquoted_command_end(text, pos);
}

std::optional<DollarForm> next_dollar_form(std::string_view text, std::size_t pos, bool quoted) {
    if (text.size() > UINT32_MAX) text = text.substr(0, UINT32_MAX);
    while (true) {
        pos = text.find('$', pos);
        if (pos == std::string_view::npos || pos + 1 == text.size()) return std::nullopt;
        const DollarForm form = read_form(text, pos, quoted);
        if (form.end > pos + 1) return form;
        pos += 1;  // a literal '$'; the scan goes on after it
    }
}

bool read_dollar_forms(std::string_view text, bool quoted, std::span<const DollarForm> commands,
                       std::size_t skipped, std::vector<DollarForm>& out) {
    if (text.size() > UINT32_MAX) text = text.substr(0, UINT32_MAX);
    const auto pattern_char = [](char c) { return c == '*' || c == '?' || c == '['; };
    bool pattern = false;
    std::size_t from = 0;  // the end of the last form
    for (std::size_t pos = text.find('$'); pos != std::string_view::npos && pos + 1 < text.size();
         pos = text.find('$', pos)) {
        while (!commands.empty() && commands.front().start < pos + skipped)
            commands = commands.subspan(1);
        DollarForm form;
        if (!commands.empty() && commands.front().start == pos + skipped) {
            form = commands.front();
            form.start -= static_cast<std::uint32_t>(skipped);
            form.end -= static_cast<std::uint32_t>(skipped);
        } else {
            form = read_form(text, pos, quoted);
        }
        if (form.end == pos + 1) {  // a literal '$'; the reading goes on after it
            ++pos;
            continue;
        }
        pattern = pattern || std::any_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                                         text.begin() + form.start, pattern_char);
        out.push_back(form);
        from = pos = form.end;
    }
    return pattern ||
           std::any_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), pattern_char);
}

}  // namespace kiln
