// The output and input builtins: echo, printf, read and cat.
#include <charconv>
#include <vector>

#include "builtins/commands.hpp"
#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

void append_int64(std::string& out, std::int64_t value) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, end);
}

// The value of a `%s`/`%d` conversion; the index advances whether or not a value is left.
std::string_view next_value(std::span<const std::string> values, std::size_t& index) {
    const std::size_t i = index++;
    return i < values.size() ? std::string_view(values[i]) : std::string_view();
}

// One "%c" pair of the format; returns the text it yields.
void append_conversion(std::string& out, char c, std::span<const std::string> values,
                       std::size_t& index) {
    switch (c) {
        case '%':
            out += '%';
            break;
        case 's':
            out += next_value(values, index);
            break;
        case 'd':
            append_int64(out, parse_int64(next_value(values, index)).value_or(0));
            break;
        default:  // no widths or flags: the pair stays as written
            out += '%';
            out += c;
    }
}

// One "\c" pair of the format.
void append_escape(std::string& out, char c) {
    switch (c) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default:
            out += '\\';
            out += c;
    }
}

// The first line of piped or redirected input: up to the first line feed, less one CR.
std::string line_of_input(std::string_view input) {
    std::string_view line = input.substr(0, input.find('\n'));
    if (line.ends_with('\r')) line.remove_suffix(1);
    return to_valid_utf8(line);
}

// One line from the shell's standard input, line ends stripped; absent at end of input, on a
// read error, or when the line is not valid UTF-8. A line past the memory bound ends the
// command as out_of_memory.
std::optional<std::string> line_of_stdin(ShellState& state) {
    auto read = platform::read_stdin_line();
    if (!read && read.error().code == platform::kTooLarge) {
        out_of_memory(state, "read: " + platform::describe(read.error()));
    }
    if (!read || !read->has_value()) return std::nullopt;
    std::string line = std::move(**read);
    if (!is_valid_utf8(line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The words of a line, split at runs of Unicode white space.
std::vector<std::string_view> split_words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t start = std::string_view::npos;
    for (std::size_t i = 0; i < line.size();) {
        const Decoded d = decode_utf8(line, i);
        if (is_unicode_space(d.cp)) {
            if (start != std::string_view::npos) words.push_back(line.substr(start, i - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = i;
        }
        i += d.len;
    }
    if (start != std::string_view::npos) words.push_back(line.substr(start));
    return words;
}

// Assigns through set_var, reporting a name the environment refuses; false on such a refusal.
bool assign(ShellState& state, std::string_view name, std::string value, BuiltinOutput& out) {
    auto r = set_var(state, name, std::move(value), false);
    if (r) return true;
    out.errors.append("read: ").append(name).append(": ").append(r.error()).append("\n");
    return false;
}

}  // namespace

int builtin_echo(ShellState&, std::span<const std::string> args, const BuiltinInput&,
                 BuiltinOutput& out) {
    const bool newline = args.empty() || args[0] != "-n";
    if (!newline) args = args.subspan(1);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out.text += ' ';
        out.text += args[i];
    }
    if (newline) out.text += '\n';
    return 0;
}

int builtin_printf(ShellState&, std::span<const std::string> args, const BuiltinInput&,
                   BuiltinOutput& out) {
    if (args.empty()) return 1;
    const std::string_view format = args[0];
    const auto values = args.subspan(1);
    std::size_t index = 0;
    std::string& text = out.text;
    // Byte-wise is enough: '%' and '\' are ASCII, and a pair whose second character is
    // multi-byte yields that character unchanged either way.
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const bool pair = (c == '%' || c == '\\') && i + 1 < format.size();
        if (!pair) {
            text += c;
        } else if (c == '%') {
            append_conversion(text, format[++i], values, index);
        } else {
            append_escape(text, format[++i]);
        }
    }
    return 0;
}

int builtin_read(ShellState& state, std::span<const std::string> args, const BuiltinInput& in,
                 BuiltinOutput& out) {
    std::string line;
    if (!in.bytes.empty()) {
        line = line_of_input(in.bytes);
    } else if (auto from_stdin = line_of_stdin(state)) {
        line = std::move(*from_stdin);
    } else {
        return 1;
    }
    if (args.empty()) return assign(state, "REPLY", std::move(line), out) ? 0 : 1;

    const std::vector<std::string_view> words = split_words(line);
    int status = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string value;
        if (i + 1 < args.size()) {
            if (i < words.size()) value = words[i];
        } else {
            for (std::size_t w = i; w < words.size(); ++w) {
                if (w > i) value += ' ';
                value += words[w];
            }
        }
        if (!assign(state, args[i], std::move(value), out)) status = 1;
    }
    return status;
}

int builtin_cat(ShellState& state, std::span<const std::string> args, const BuiltinInput& in,
                BuiltinOutput& out) {
    if (args.empty()) {
        // Passing the input on whole: take its buffer rather than copying it, so that a
        // pipeline holds each stage's bytes once.
        if (in.data != nullptr) {
            out.passes_input = true;
        } else {
            out.text += in.bytes;
        }
        return 0;
    }
    int status = 0;
    for (const std::string& file : args) {
        if (file == "-") {
            out.text += in.bytes;
            continue;
        }
        if (has_nul(file)) {
            out.errors += "cat: " + file + ": file name contains a NUL byte\n";
            status = 1;
            continue;
        }
        auto bytes = platform::read_file(file);
        if (!bytes && bytes.error().code == platform::kTooLarge) {
            // An endless file: cat is the producer that the bound ends.
            return out_of_memory(state, file + ": " + platform::describe(bytes.error()));
        }
        if (!bytes) {
            out.errors += "cat: " + file + ": " + platform::describe(bytes.error()) + "\n";
            status = 1;
        } else if (out.text.empty()) {
            out.text = std::move(*bytes);  // the common single-file case takes the buffer whole
        } else {
            out.text += *bytes;
        }
    }
    return status;
}

}  // namespace kiln
