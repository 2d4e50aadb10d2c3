// Splitting and quoting Windows command lines.
#include "platform/win_cmdline.hpp"

#include "platform/win_text.hpp"

namespace kiln::platform::win {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Argument 0 ends at the next quote when it begins with one, else at the first blank; it
// knows no backslash escapes, since a program path cannot hold a quote.
std::size_t read_program(std::string_view line, std::string& out) {
    std::size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        out = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
        return close == std::string_view::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !is_blank(line[i]))
        ++i;
    out = line.substr(0, i);
    return i;
}

// One argument starting at `i` (not a blank): backslashes are literal unless a quote follows;
// then 2n backslashes give n and the quote toggles quoting, 2n+1 give n and a literal quote.
// Inside quotes a doubled quote is a literal quote.
std::size_t read_argument(std::string_view line, std::size_t i, std::string& out) {
    bool quoted = false;
    while (i < line.size() && (quoted || !is_blank(line[i]))) {
        if (line[i] == '\\') {
            std::size_t n = 0;
            while (i < line.size() && line[i] == '\\')
                ++n, ++i;
            if (i < line.size() && line[i] == '"') {
                out.append(n / 2, '\\');
                if (n % 2 == 1) {
                    out += '"';
                    ++i;
                }
            } else {
                out.append(n, '\\');
            }
        } else if (line[i] == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                out += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            out += line[i++];
        }
    }
    return i;
}

// Appends one argument for a program that splits its command line by the rules above.
void append_quoted(std::string& line, std::string_view arg) {
    const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
    if (quote) line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') line.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        line += c;
    }
    if (quote) {
        line.append(backslashes, '\\');
        line += '"';
    }
}

// Characters that cmd.exe takes literally outside quotes; anything else gets the argument
// quoted.
bool safe_for_cmd(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    if (static_cast<unsigned char>(c) >= 0x80) return true;  // part of a non-ASCII character
    return std::string_view("#$*+-./:?@\\_").find(c) != std::string_view::npos;
}

// Appends one argument of a batch script: quoted when it holds anything cmd.exe could act
// on, quotes doubled, and "%" broken up so that cmd.exe cannot expand a %VARIABLE% in it.
void append_batch_argument(std::string& line, std::string_view arg) {
    bool quote = arg.empty() || arg.back() == '\\';
    for (const char c : arg) {
        if (!safe_for_cmd(c)) quote = true;
    }
    if (quote) line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            line += c;
            continue;
        }
        if (c == '"') {
            line.append(backslashes, '\\');
            line += '"';
        } else if (c == '%') {
            line += "%%cd:~,";  // an empty substring of %cd%, then the % itself
        }
        backslashes = 0;
        line += c;
    }
    if (quote) {
        line.append(backslashes, '\\');
        line += '"';
    }
}

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> args(1);
    std::size_t i = read_program(line, args[0]);
    while (true) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        if (i >= line.size()) break;
        args.emplace_back();
        i = read_argument(line, i, args.back());
    }
    return args;
}

std::string program_command_line(std::string_view program, const std::vector<std::string>& args) {
    std::string line = "\"";
    line += backslashed(program);
    line += '"';
    for (const auto& arg : args) {
        line += ' ';
        append_quoted(line, arg);
    }
    return line;
}

std::optional<std::string> batch_command_line(std::string_view script,
                                              const std::vector<std::string>& args) {
    // A file name cannot hold a quote or end in a separator; line ends and NUL would cut
    // the interpreter's line short.
    const std::string path = backslashed(script);
    if (path.find('"') != std::string::npos || path.empty() || path.back() == '\\') {
        return std::nullopt;
    }
    std::string line = "cmd.exe /e:ON /v:OFF /d /c \"\"";
    line += path;
    line += '"';
    for (const auto& arg : args) {
        if (arg.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            return std::nullopt;
        }
        line += ' ';
        append_batch_argument(line, arg);
    }
    line += '"';
    return line;
}

int exit_status(std::uint32_t code) {
    return code == kControlCExit ? 130 : static_cast<int>(static_cast<std::int32_t>(code));
}

}  // namespace kiln::platform::win
