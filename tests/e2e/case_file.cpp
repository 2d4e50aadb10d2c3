// Reads case files: "=== name" starts a case, settings follow, then "$ text" or "% words"
// commands, each followed by the output it must produce.
#include "case_file.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

namespace e2e {
namespace {

bool is_blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Whether `line` begins with the marker `c`: the character alone or followed by a blank.
bool marked(std::string_view line, char c) {
    return !line.empty() && line[0] == c && (line.size() == 1 || line[1] == ' ');
}

std::string_view after_mark(std::string_view line) {
    return line.substr(std::min<std::size_t>(2, line.size()));
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes backslash escapes; a lone backslash at the end sets `joined` (no line feed after the
// line). Returns nothing for an unknown escape.
std::optional<std::string> unescape(std::string_view text, bool& joined) {
    std::string out;
    joined = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            joined = true;
            break;
        }
        const char c = text[i];
        if (c == 'x') {
            const int hi = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            continue;
        }
        const std::string_view from = "\\ntre0", to{"\\\n\t\r\x1b\0", 6};
        const auto k = from.find(c);
        if (k == std::string_view::npos) return std::nullopt;
        out += to[k];
    }
    return out;
}

// The words of an argument line: blanks and line feeds separate them, single quotes group
// text literally.
std::optional<std::vector<std::string>> split_words(const std::string& text) {
    std::vector<std::string> words;
    bool in_word = false, quoted = false;
    for (char c : text) {
        if (!quoted && (c == ' ' || c == '\t' || c == '\n')) {
            in_word = false;
            continue;
        }
        if (!in_word) words.emplace_back();
        in_word = true;
        if (c == '\'')
            quoted = !quoted;
        else
            words.back() += c;
    }
    if (quoted) return std::nullopt;
    return words;
}

class Reader {
public:
    Reader(const std::string& file, CaseFile& out) : file_(file), out_(out) {}

    void line(int n, std::string_view s) {
        if (s.starts_with("##")) return;
        if (s.starts_with("=== ")) return start(n, s.substr(4));
        if (!case_) {
            if (!is_blank(s)) error(n, "text outside any case (comments begin with ##)");
            return;
        }
        if (marked(s, '>')) return continued(n, after_mark(s));
        if (is_blank(s)) {
            ++blanks_;
            return;
        }
        close_block(n);
        Case& c = *case_;
        // Blank lines within a case are output lines of the command before them.
        for (; blanks_ > 0 && !c.commands.empty(); --blanks_)
            c.commands.back().out += "\n";
        blanks_ = 0;
        if (c.commands.empty() && !marked(s, '$') && !marked(s, '%')) return setting(n, s);
        if (marked(s, '$') || marked(s, '%')) {
            c.commands.push_back({n, {}, {}, {}, status_});
            block_ = s[0] == '$' ? Block::Shell : Block::Words;
            block_line_ = n;
            text_.clear();
            return continued(n, after_mark(s));
        }
        Command& cmd = c.commands.back();
        if (marked(s, '!')) {
            cmd.err += text(n, after_mark(s));
        } else if (marked(s, '?')) {
            const auto word = after_mark(s);
            int value = 0;
            auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
            if (word == "!0")
                cmd.status.reset();
            else if (ec == std::errc() && end == word.data() + word.size())
                cmd.status = value;
            else
                error(n, "'?' needs a status or !0");
        } else {
            cmd.out += text(n, marked(s, '|') ? after_mark(s) : s);
        }
    }

    void finish(int n) {
        if (!case_) return;
        close_block(n);
        if (case_->commands.empty()) error(case_->line, "the case runs no command");
        if (!names_.insert(case_->name).second) error(case_->line, "two cases share this name");
        if (out_.errors.size() == errors_before_) out_.cases.push_back(std::move(*case_));
        case_.reset();
    }

private:
    enum class Block { None, File, Input, Shell, Words };

    void error(int line, const std::string& message) {
        out_.errors.push_back(file_ + ":" + std::to_string(line) + ": " + message);
    }

    void start(int n, std::string_view header) {
        finish(n);
        case_ = Case{};
        case_->file = file_;
        case_->line = n;
        errors_before_ = out_.errors.size();
        esc_ = false;
        status_ = 0;
        blanks_ = 0;
        std::string name(header);
        // Trailing @words are flags: the platform, escapes in every line, the default status.
        for (auto at = name.rfind(" @"); at != std::string::npos; at = name.rfind(" @")) {
            const std::string flag = name.substr(at + 2);
            if (flag == "posix" || flag == "windows")
                case_->platform = flag == "posix" ? Platform::Posix : Platform::Windows;
            else if (flag == "esc")
                esc_ = true;
            else if (flag.starts_with("status=") && std::isdigit(flag.back()))
                status_ = std::atoi(flag.c_str() + 7);
            else
                error(n, "unknown flag @" + flag);
            name.erase(at);
        }
        if (is_blank(name)) error(n, "a case needs a name");
        case_->name = name;
    }

    // One line of text: escapes decoded under @esc, then a line feed unless it was joined.
    std::string text(int n, std::string_view raw) {
        if (!esc_) return std::string(raw) + "\n";
        bool joined = false;
        auto decoded = unescape(raw, joined);
        if (!decoded) error(n, "bad backslash escape");
        return decoded.value_or("") + (joined ? "" : "\n");
    }

    void continued(int n, std::string_view rest) {
        if (block_ == Block::None || blanks_ > 0) return error(n, "'>' continues nothing");
        Case& c = *case_;
        if (block_ == Block::File) c.files.back().content += text(n, rest);
        if (block_ == Block::Input) *c.input += text(n, rest);
        if (block_ == Block::Shell) text_ += text(n, rest);
        if (block_ == Block::Words) text_ += std::string(rest) + "\n";
    }

    // Ends the text that '>' lines continue; a command's text becomes its argument list.
    void close_block(int n) {
        const Block block = std::exchange(block_, Block::None);
        if (block != Block::Shell && block != Block::Words) return;
        if (text_.ends_with('\n')) text_.pop_back();
        Command& cmd = case_->commands.back();
        if (block == Block::Shell) {
            cmd.argv = {"-c", text_};
            return;
        }
        auto words = split_words(text_);
        if (!words) return error(block_line_, "unbalanced single quote");
        for (const auto& w : *words) {
            bool joined = false;
            auto decoded = esc_ ? unescape(w, joined) : w;
            if (!decoded) error(n, "bad backslash escape");
            cmd.argv.push_back(decoded.value_or(""));
        }
    }

    void setting(int n, std::string_view s) {
        std::istringstream in{std::string(s)};
        std::string key, rest;
        in >> key;
        std::getline(in >> std::ws, rest);
        Case& c = *case_;
        if (key == "file" && !rest.empty()) {
            std::istringstream paths(rest);
            int count = 0;
            for (std::string p; paths >> p; ++count) {
                const bool home = p.starts_with("~/");
                if (home) p.erase(0, 2);
                if (p.empty() || p.starts_with('/') || p.find("..") != std::string::npos)
                    return error(n, "a file needs a relative path without '..'");
                c.files.push_back({p, home, {}});
            }
            if (count == 1) block_ = Block::File;
        } else if (key == "stdin" && rest.empty()) {
            c.input = "";
            block_ = Block::Input;
        } else if (key == "env" && !rest.empty()) {
            rest = text(n, rest);
            rest.pop_back();
            const auto eq = rest.find('=');
            if (eq == std::string::npos)
                c.env.emplace_back(rest, std::nullopt);
            else
                c.env.emplace_back(rest.substr(0, eq), rest.substr(eq + 1));
        } else if (key == "timeout" && std::atoi(rest.c_str()) > 0) {
            c.timeout_seconds = std::atoi(rest.c_str());
        } else {
            error(n, "expected a setting (file, stdin, env, timeout) or a command");
        }
    }

    std::string file_;
    CaseFile& out_;
    std::optional<Case> case_;
    std::size_t errors_before_ = 0;
    bool esc_ = false;
    int status_ = 0;  // the status a command must end with unless it says otherwise
    int blanks_ = 0;  // blank lines not yet known to be output
    Block block_ = Block::None;
    int block_line_ = 0;
    std::string text_;  // the command that '>' lines continue
    std::set<std::string> names_;
};

}  // namespace

CaseFile parse_case_file(const std::string& file_name, const std::string& text) {
    CaseFile out;
    Reader reader(file_name, out);
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        reader.line(++n, line);
    reader.finish(n);
    return out;
}

}  // namespace e2e
