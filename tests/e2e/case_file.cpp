// Reads case files: "=== name" starts a case, settings follow, then "$ text" or "% words"
// commands, each followed by the output it must produce.
#include "case_file.hpp"

#include <cstdlib>
#include <set>
#include <sstream>

namespace e2e {
namespace {

bool is_blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Whether `line` begins with the marker `c`: the character alone or followed by a blank.
bool marked(std::string_view line, char c) {
    return line.starts_with(c) && (line.size() == 1 || line[1] == ' ');
}

// Decodes backslash escapes; a lone backslash at the end sets `joined` (no line feed after the
// line). Returns nothing for an unknown escape.
std::optional<std::string> unescape(std::string_view text, bool& joined) {
    static constexpr std::string_view from = "\\ntre0", to{"\\\n\t\r\x1b\0", 6};
    std::string out;
    joined = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 == text.size()) {
            joined = true;
        } else if (text[++i] == 'x') {
            const std::string hex(text.substr(i + 1, 2));
            char* end = nullptr;
            out += static_cast<char>(std::strtol(hex.c_str(), &end, 16));
            if (hex.size() != 2 || *end != '\0' || !std::isxdigit(hex[0])) return std::nullopt;
            i += 2;
        } else if (from.find(text[i]) != std::string_view::npos) {
            out += to[from.find(text[i])];
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// The words of a "%" command: blanks and line feeds separate them, single quotes group text.
std::optional<std::vector<std::string>> split_words(std::string_view text) {
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
    explicit Reader(const std::string& file) : file_(file) {}

    void line(int n, std::string_view s) {
        line_ = n;
        if (s.starts_with("##")) return;
        if (s.starts_with("=== ")) return start(s.substr(4));
        if (!case_) return is_blank(s) ? void() : error("text outside any case");
        if (marked(s, '>')) return continued(s.substr(std::min<std::size_t>(2, s.size())));
        if (is_blank(s)) {
            ++blanks_;
            return;
        }
        close_block();
        // Blank lines within a case are output lines of the command before them.
        for (; blanks_ > 0 && !case_->commands.empty(); --blanks_)
            case_->commands.back().out += "\n";
        blanks_ = 0;
        const std::string_view rest = s.substr(std::min<std::size_t>(2, s.size()));
        if (marked(s, '$') || marked(s, '%')) {
            case_->commands.push_back({n, {}, {}, {}, status_});
            block_ = s[0] == '$' ? Block::Shell : Block::Words;
            text_.clear();
            return continued(rest);
        }
        if (case_->commands.empty()) return setting(s);
        Command& cmd = case_->commands.back();
        if (marked(s, '!')) {
            cmd.err += text(rest);
        } else if (marked(s, '?')) {
            char* end = nullptr;
            const std::string word(rest);
            cmd.status =
                word == "!0" ? std::nullopt : std::optional(std::strtol(word.c_str(), &end, 10));
            if (word != "!0" && (word.empty() || *end != '\0')) error("'?' needs a status or !0");
        } else {
            cmd.out += text(marked(s, '|') ? rest : s);
        }
    }

    CaseFile finish() {
        start("");
        return std::move(out_);
    }

private:
    enum class Block { None, File, Input, Shell, Words };

    void error(const std::string& message, int line = 0) {
        out_.errors.push_back(file_ + ":" + std::to_string(line ? line : line_) + ": " + message);
    }

    // Ends the case being read and begins the one `header` names (none when empty).
    void start(std::string_view header) {
        if (case_) {
            close_block();
            if (case_->commands.empty()) error("the case runs no command", case_->line);
            if (!names_.insert(case_->name).second) error("two cases share this name", case_->line);
            if (out_.errors.size() == errors_before_) out_.cases.push_back(std::move(*case_));
        }
        case_.reset();
        if (header.empty()) return;
        case_.emplace();
        case_->file = file_;
        case_->line = line_;
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
                error("unknown flag @" + flag);
            name.erase(at);
        }
        case_->name = name;
    }

    // One line of text: escapes decoded under @esc, then a line feed unless it was joined.
    std::string text(std::string_view raw) {
        if (!esc_) return std::string(raw) + "\n";
        bool joined = false;
        auto decoded = unescape(raw, joined);
        if (!decoded) error("bad backslash escape");
        return decoded.value_or("") + (joined ? "" : "\n");
    }

    void continued(std::string_view rest) {
        if (block_ == Block::None || blanks_ > 0) return error("'>' continues nothing");
        if (block_ == Block::File) case_->files.back().content += text(rest);
        if (block_ == Block::Input) *case_->input += text(rest);
        if (block_ == Block::Shell) text_ += text(rest);
        if (block_ == Block::Words) text_ += std::string(rest) + "\n";
    }

    // Ends the text that '>' lines continue; a command's text becomes its argument list.
    void close_block() {
        const Block block = std::exchange(block_, Block::None);
        if (block != Block::Shell && block != Block::Words) return;
        if (text_.ends_with('\n')) text_.pop_back();
        Command& cmd = case_->commands.back();
        if (block == Block::Shell) {
            cmd.argv = {"-c", text_};
            return;
        }
        const auto words = split_words(text_);
        if (!words) return error("unbalanced single quote");
        for (const auto& w : *words) {
            bool joined = false;
            const auto decoded = esc_ ? unescape(w, joined) : w;
            if (!decoded) error("bad backslash escape");
            cmd.argv.push_back(decoded.value_or(""));
        }
    }

    void setting(std::string_view s) {
        const std::string key(s.substr(0, s.find(' ')));
        std::string rest(s.size() > key.size() ? s.substr(key.size() + 1) : "");
        if (key == "file" && !rest.empty()) {
            std::istringstream paths(rest);
            int count = 0;
            for (std::string p; paths >> p; ++count) {
                const bool home = p.starts_with("~/");
                if (p.find("..") != std::string::npos || p.starts_with('/'))
                    return error("a file needs a relative path without '..'");
                case_->files.push_back({p.substr(home ? 2 : 0), home, {}});
            }
            if (count == 1) block_ = Block::File;
        } else if (key == "stdin" && rest.empty()) {
            case_->input = "";
            block_ = Block::Input;
        } else if (key == "env" && !rest.empty()) {
            rest = text(rest);
            rest.pop_back();
            const auto eq = rest.find('=');
            case_->env.emplace_back(rest.substr(0, eq), eq == std::string::npos
                                                            ? std::nullopt
                                                            : std::optional(rest.substr(eq + 1)));
        } else if (key == "timeout" && std::atoi(rest.c_str()) > 0) {
            case_->timeout_seconds = std::atoi(rest.c_str());
        } else {
            error("expected a setting (file, stdin, env, timeout) or a command");
        }
    }

    std::string file_;
    CaseFile out_;
    std::optional<Case> case_;
    std::size_t errors_before_ = 0;
    int line_ = 0;
    bool esc_ = false;
    int status_ = 0;  // the status a command must end with unless it says otherwise
    int blanks_ = 0;  // blank lines not yet known to be output
    Block block_ = Block::None;
    std::string text_;  // the command that '>' lines continue
    std::set<std::string> names_;
};

}  // namespace

CaseFile parse_case_file(const std::string& file_name, const std::string& text) {
    Reader reader(file_name);
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        reader.line(++n, line);
    return reader.finish();
}

}  // namespace e2e
