// Word expansion: tilde, dollar forms, $(...), field splitting and filename patterns.
#include "expand/expand.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/text.hpp"
#include "exec/exec.hpp"
#include "expand/glob.hpp"
#include "expand/pattern.hpp"
#include "lexer/lexer.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// Field splitting cuts at the ASCII white space characters other than vertical tab.
bool is_split_char(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_name_char(char c) {
    return is_name_start(c) || (c >= '0' && c <= '9');
}

// The text of an unquoted segment at the start of a word, split into the profile folder that
// a leading "~" or "~/" stands for and the rest. The folder is inserted as it is: never
// dollar-expanded and never split, so a profile folder with a blank or a '$' in its name
// survives. Without a tilde, or without a known folder, the home part is absent.
struct TildeSplit {
    std::optional<std::string> home;
    std::string_view rest;
};
TildeSplit split_tilde(std::string_view text) {
    if (text != "~" && !text.starts_with("~/")) return {std::nullopt, text};
    const std::optional<std::string>& home = platform::home_dir();
    if (!home) return {std::nullopt, text};
    return {*home, text.substr(1)};
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

// Appends a variable's value to the word being built. A word that would pass the memory
// bound (`x="$x$x"` again and again) ends the command instead.
void append_value(ShellState& state, std::string_view name, std::string_view value,
                  std::string& out) {
    if (state.pending.request == Request::Overflow) return;  // said once
    if (!platform::may_grow(out, value.size())) {
        const std::size_t size = out.size() + value.size();
        out_of_memory(state,
                      std::string(name) + ": " + platform::describe(platform::too_large(size)));
        return;
    }
    out += value;
}

void append_var(ShellState& state, std::string_view name, std::string& out) {
    // An ordinary name is appended straight from the table; special parameters are computed.
    if (!name.empty() && is_name_start(name.front())) {
        if (const std::string* value = find_variable(state, name)) {
            append_value(state, name, *value, out);
        }
    } else if (std::optional<std::string> value = get_var(state, name)) {
        append_value(state, name, *value, out);
    }
}

// Runs the text in this shell with its standard output collected; syntax errors are reported
// and give an empty result.
std::string substitute_command(ShellState& state, std::string_view inner) {
    platform::Spool captured;
    run_text(state, inner, std::nullopt, &captured, SyntaxErrors::MessageOnly);
    ++state.substitutions;
    std::string text = take_valid_utf8(captured.take());
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// One dollar form of a text: what it names and where the text goes on after it.
struct DollarForm {
    enum class Shape { Literal, Parameter, Command } shape = Shape::Literal;
    std::string_view inner;  // the parameter's name, or the command's text
    std::size_t end = 0;
};

// Inside double quotes a command's own quotes hide its parentheses, as they did when the
// lexer took the word; in unquoted text parentheses alone are counted.
std::size_t find_command_end(std::string_view text, std::size_t open, bool quoted) {
    if (!quoted) return find_closing(text, open, '(', ')');
    const auto end = find_substitution_end(text, open + 1);
    return end && *end != std::string_view::npos ? *end - 1 : std::string_view::npos;
}

// Reads the dollar form at `pos`, a '$' that is not the last character.
DollarForm read_dollar_form(std::string_view text, std::size_t pos, bool quoted) {
    using Shape = DollarForm::Shape;
    const char c = text[pos + 1];
    if (c == '?' || c == '$' || c == '#' || c == '*' || c == '@' || (c >= '0' && c <= '9')) {
        return {Shape::Parameter, text.substr(pos + 1, 1), pos + 2};  // $10 is $1 and a 0
    }
    if (c == '{' || c == '(') {
        const std::size_t close = c == '{' ? find_closing(text, pos + 1, '{', '}')
                                           : find_command_end(text, pos + 1, quoted);
        // Unmatched: the '$' is literal and the scan goes on after it.
        if (close == std::string_view::npos) return {Shape::Literal, {}, pos + 1};
        const std::string_view inner = text.substr(pos + 2, close - pos - 2);
        return {c == '{' ? Shape::Parameter : Shape::Command, inner, close + 1};
    }
    if (is_name_start(c)) {
        std::size_t end = pos + 2;
        while (end < text.size() && is_name_char(text[end]))
            ++end;
        return {Shape::Parameter, text.substr(pos + 1, end - pos - 1), end};
    }
    return {Shape::Literal, {}, pos + 1};  // "$%", "$-", "$!" stay as typed
}

// Expands the dollar form at `pos` (a '$' that is not the last character) into `out` and
// returns the index where the scan goes on.
std::size_t expand_dollar(ShellState& state, std::string_view text, std::size_t pos, bool quoted,
                          std::string& out) {
    const DollarForm form = read_dollar_form(text, pos, quoted);
    switch (form.shape) {
        case DollarForm::Shape::Literal:
            out += '$';
            break;
        case DollarForm::Shape::Parameter:
            append_var(state, form.inner, out);  // ${A:-b} is just a name without a value
            break;
        case DollarForm::Shape::Command: {
            std::string captured = substitute_command(state, form.inner);
            if (out.empty()) {
                out = std::move(captured);  // a large capture is not copied again
            } else {
                out += captured;
            }
            break;
        }
    }
    return form.end;
}

// True when unquoted text holds a pattern character of its own, outside its dollar forms:
// what a variable or a command substitution yields, or holds in its text, is not typed.
bool has_typed_pattern_chars(std::string_view text) {
    if (!has_pattern_chars(text)) return false;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '$' && i + 1 < text.size()) {
            i = read_dollar_form(text, i, false).end;
        } else if (text[i] == '*' || text[i] == '?' || text[i] == '[') {
            return true;
        } else {
            ++i;
        }
    }
    return false;
}

// Expands the dollar forms of `text` onto the end of `out`, so that the segments of a word
// build its text in one string without a temporary for each. `quoted`: the text was written
// inside double quotes.
void append_params(ShellState& state, std::string_view text, bool quoted, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '$' && i + 1 < text.size()) {
            i = expand_dollar(state, text, i, quoted, out);
        } else {
            out += text[i++];
        }
    }
}

// The fields of one word while they are being built.
struct Fields {
    std::vector<std::string>& done;  // finished fields, after those of earlier words
    std::string current;
    bool have = false;     // an earlier segment contributed, even an empty string
    bool pattern = false;  // `current` is to be matched against file names
};

void expand_unquoted(ShellState& state, std::string_view text, Fields& fields) {
    // Only pattern characters typed unquoted set the flag, never those an expansion yields.
    bool pattern = fields.pattern || has_typed_pattern_chars(text);
    TildeSplit tilde = fields.have ? TildeSplit{std::nullopt, text} : split_tilde(text);
    if (tilde.home) fields.current += *tilde.home;
    std::string value;
    append_params(state, tilde.rest, false, value);
    // Every separator cuts: two in a row leave an empty field between them.
    std::size_t start = 0;
    while (true) {
        std::size_t cut = start;
        while (cut < value.size() && !is_split_char(value[cut]))
            ++cut;
        fields.current.append(value, start, cut - start);
        if (cut == value.size()) break;
        finish_field(fields.done, std::exchange(fields.current, {}), pattern);
        pattern = false;
        start = cut + 1;
    }
    fields.have = true;
    fields.pattern = pattern;
}

}  // namespace

std::string expand_params(ShellState& state, std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_params(state, text, false, out);
    return out;
}

void finish_field(std::vector<std::string>& fields, std::string text, bool pattern) {
    if (!pattern || !has_pattern_chars(text)) {
        fields.push_back(std::move(text));
        return;
    }
    auto matches = glob_paths(text);
    if (!matches || matches->empty()) {
        fields.push_back(std::move(text));  // malformed, or nothing matched: kept as typed
        return;
    }
    fields.reserve(fields.size() + matches->size());
    for (std::string& path : *matches)
        fields.push_back(std::move(path));
}

namespace {

// A word of one segment that no expansion can change, such as a command name or an option:
// its text is its only field. Most words of a typical command are like this.
bool is_plain_literal(const Word& word) {
    if (word.size() != 1) return false;
    const Seg& seg = word[0];
    if (seg.quote == Quote::Single) return true;
    const std::string_view text = seg.text;
    if (seg.quote == Quote::Double) return text.find('$') == std::string_view::npos;
    if (text.starts_with('~')) return false;
    // One pass for everything that makes an unquoted text expand: a dollar form, a pattern
    // character or a field separator.
    return std::none_of(text.begin(), text.end(), [](char c) {
        return c == '$' || c == '*' || c == '?' || c == '[' || is_split_char(c);
    });
}

}  // namespace

std::vector<std::string> expand_word(ShellState& state, const Word& word) {
    std::vector<std::string> fields;
    expand_word_into(state, word, fields);
    return fields;
}

void expand_word_into(ShellState& state, const Word& word, std::vector<std::string>& out) {
    if (is_plain_literal(word)) {
        out.emplace_back(word[0].text);
        return;
    }
    Fields fields{out, {}, false, false};
    for (const Seg& seg : word) {
        switch (seg.quote) {
            case Quote::Single:
                fields.current += seg.text;
                fields.have = true;
                break;
            case Quote::Double:
                append_params(state, seg.text, true, fields.current);
                fields.have = true;
                break;
            case Quote::None:
                expand_unquoted(state, seg.text, fields);
                break;
        }
    }
    finish_field(fields.done, std::move(fields.current), fields.pattern);
}

std::string expand_word_single(ShellState& state, const Word& word) {
    std::string out;
    for (const Seg& seg : word) {
        switch (seg.quote) {
            case Quote::Single:
                out += seg.text;
                break;
            case Quote::Double:
                append_params(state, seg.text, true, out);
                break;
            case Quote::None: {
                TildeSplit tilde = out.empty() ? split_tilde(seg.text) : TildeSplit{{}, seg.text};
                if (tilde.home) out += *tilde.home;
                append_params(state, tilde.rest, false, out);
                break;
            }
        }
    }
    return out;
}

}  // namespace kiln
