// Word expansion: tilde, dollar forms, $(...), field splitting and filename patterns.
#include "expand/expand.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/text.hpp"
#include "exec/exec.hpp"
#include "expand/glob.hpp"
#include "expand/pattern.hpp"
#include "lexer/dollar.hpp"
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

// The profile folder that a leading "~" or "~/" of an unquoted segment at the start of a word
// stands for, given a text that begins with "~"; it replaces the "~". The folder is inserted as it
// is: never dollar-expanded and never split, so a profile folder with a blank or a '$' in its name
// survives. Absent without a tilde, or without a known folder.
std::optional<std::string> tilde_home(std::string_view text) {
    if (text.size() > 1 && text[1] != '/') return std::nullopt;
    return platform::home_dir();
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
// and give an empty result. With a cell of the tree, the text is parsed only at its first run.
std::string substitute_command(ShellState& state, std::string_view inner, const CommandCell* cell) {
    platform::Spool captured;
    if (cell) {
        run_substitution(state, *cell, inner, &captured);
    } else {
        run_text(state, inner, std::nullopt, &captured, SyntaxErrors::MessageOnly);
    }
    ++state.substitutions;
    std::string text = take_valid_utf8(captured.take());
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Expands one dollar form of `text` onto the end of `out`.
void expand_form(ShellState& state, std::string_view text, const DollarForm& form,
                 const CommandCell* cell, std::string& out) {
    const std::string_view inner = form.inner(text);
    if (form.kind == DollarForm::Kind::Parameter) {
        append_var(state, inner, out);  // ${A:-b} is just a name without a value
        return;
    }
    std::string captured = substitute_command(state, inner, cell);
    if (out.empty()) {
        out = std::move(captured);  // a large capture is not copied again
    } else {
        out += captured;
    }
}

// Expands the text of a piece from `from` on onto the end of `out`: the text between its
// dollar forms is copied, each form expanded. The segments of a word so build its text in one
// string without a temporary for each.
void append_params(ShellState& state, const Seg& seg, std::size_t from, std::string& out) {
    for (std::size_t i = 0; i < seg.forms.size(); ++i) {
        const DollarForm& form = seg.forms[i];
        out.append(seg.text.data() + from, form.start - from);
        expand_form(state, seg.text, form, seg.cells ? &seg.cells[i] : nullptr, out);
        from = form.end;
    }
    if (from < seg.text.size()) out.append(seg.text.data() + from, seg.text.size() - from);
}

// The fields of one word while they are being built.
struct Fields {
    std::vector<std::string>& done;  // finished fields, after those of earlier words
    std::string current;
    bool have = false;     // an earlier segment contributed, even an empty string
    bool pattern = false;  // `current` is to be matched against file names
};

// A word that splits into more fields than memory holds (an unquoted `$(yes)`) ends its
// command: each field costs a string of its own, many times the byte or two it may hold, so
// the list of fields asks the memory bound before it doubles, as a growing output does.
bool room_for_field(ShellState& state, const std::vector<std::string>& fields) {
    const std::size_t bytes = fields.capacity() * sizeof(std::string);
    if (fields.size() < fields.capacity() || bytes < platform::kBoundedFrom ||
        platform::may_hold(2 * bytes)) {
        return true;
    }
    out_of_memory(state, "out of memory: the command was stopped");
    return false;
}

void expand_unquoted(ShellState& state, const Seg& seg, Fields& fields) {
    // Only pattern characters typed unquoted set the flag, never those an expansion yields.
    bool pattern = fields.pattern || seg.pattern;
    const std::optional<std::string> home =
        fields.have || !seg.text.starts_with('~') ? std::nullopt : tilde_home(seg.text);
    if (home) fields.current += *home;
    std::string value;
    append_params(state, seg, home ? 1 : 0, value);
    // Every separator cuts: two in a row leave an empty field between them.
    std::size_t start = 0;
    while (true) {
        std::size_t cut = start;
        while (cut < value.size() && !is_split_char(value[cut]))
            ++cut;
        fields.current.append(value, start, cut - start);
        if (cut == value.size()) break;
        if (!room_for_field(state, fields.done)) return;
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
    std::size_t from = 0;
    while (const auto form = next_dollar_form(text, from, false)) {
        out.append(text.substr(from, form->start - from));
        expand_form(state, text, *form, nullptr, out);
        from = form->end;
    }
    out.append(text.substr(from));
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

// The only segment of a word that no expansion can change, such as a command name or an
// option: its text is its only field. Most words of a typical command are like this.
bool is_plain_literal(const Seg& seg) {
    if (seg.quote == Quote::Single) return true;
    if (!seg.forms.empty()) return false;
    if (seg.quote == Quote::Double) return true;
    if (seg.pattern || seg.text.starts_with('~')) return false;
    return std::none_of(seg.text.begin(), seg.text.end(), is_split_char);
}

}  // namespace

std::vector<std::string> expand_word(ShellState& state, const Word& word) {
    std::vector<std::string> fields;
    expand_word_into(state, word, fields);
    return fields;
}

void expand_word_into(ShellState& state, const Word& word, std::vector<std::string>& out) {
    if (word.one_piece()) {
        const Word::Iterator only = word.begin();
        if (is_plain_literal(*only)) {
            out.emplace_back(only->text);
            return;
        }
    }
    Fields fields{out, {}, false, false};
    for (const Seg& seg : word) {
        switch (seg.quote) {
            case Quote::Single:
                fields.current += seg.text;
                fields.have = true;
                break;
            case Quote::Double:
                append_params(state, seg, 0, fields.current);
                fields.have = true;
                break;
            case Quote::None:
                expand_unquoted(state, seg, fields);
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
                append_params(state, seg, 0, out);
                break;
            case Quote::None: {
                const std::optional<std::string> home =
                    out.empty() && seg.text.starts_with('~') ? tilde_home(seg.text) : std::nullopt;
                if (home) out += *home;
                append_params(state, seg, home ? 1 : 0, out);
                break;
            }
        }
    }
    return out;
}

}  // namespace kiln
