// Reads case files: "=== name" starts a case, settings follow, then "$ text" or "% words"
// commands, each followed by the output it must produce.
#include "case_file.hpp"

#include <cstdlib>
#include <sstream>

namespace e2e {
namespace {

constexpr auto npos = std::string_view::npos;

// Whether `line` begins with the marker `c`: the character alone or followed by a blank.
bool marked(std::string_view line, char c) {
    return line.starts_with(c) && (line.size() == 1 || line[1] == ' ');
}

// The words of a "%" command: blanks and line feeds separate them, single quotes group text.
std::optional<std::vector<std::string>> split_words(std::string_view text) {
    std::vector<std::string> words;
    bool quoted = false, gap = true;
    for (char c : text) {
        const bool blank = !quoted && (c == ' ' || c == '\t' || c == '\n');
        if (!blank && gap) words.emplace_back();
        gap = blank;
        if (c == '\'')
            quoted = !quoted;
        else if (!blank)
            words.back() += c;
    }
    return quoted ? std::nullopt : std::optional(words);
}

struct Reader {
    const std::string& file_;
    std::vector<Case>& cases_;
    std::vector<std::string>& errors_;
    std::optional<Case> case_ = {};
    std::size_t errors_before_ = 0;
    int line_ = 0;
    bool esc_ = false;
    int status_ = 0;               // the status a command must end with unless it says otherwise
    int blanks_ = 0;               // blank lines not yet known to be output
    std::string* more_ = nullptr;  // where '>' lines go: a command's text, a file, the input
    bool words_ = false;           // whether `more_` holds the words of a "%" command
    std::string text_ = {};        // the text of the command being read

    void line(int n, std::string_view s) {
        line_ = n;
        const std::string_view rest = s.substr(std::min<std::size_t>(2, s.size()));
        const bool blank = s.find_first_not_of(" \t\r") == npos;
        if (s.starts_with("##")) return;
        if (s.starts_with("=== ")) return start(s.substr(4));
        if (!case_) return blank ? void() : error("text outside any case");
        if (marked(s, '>')) return blanks_ > 0 ? error("'>' continues nothing") : more(rest);
        if (blank) return void(++blanks_);
        close_command();
        // Blank lines within a case are output lines of the command before them.
        for (; blanks_ > 0; --blanks_)
            if (!case_->commands.empty()) case_->commands.back().out += "\n";
        if (marked(s, '$') || marked(s, '%')) {
            case_->commands.push_back({n, {}, {}, {}, status_});
            words_ = s[0] == '%';
            more_ = &text_;
            text_.clear();
            return more(rest);
        }
        if (case_->commands.empty()) return setting(s);
        Command& cmd = case_->commands.back();
        if (marked(s, '!')) {
            cmd.err += text(rest);
        } else if (marked(s, '?')) {
            const std::string word(rest);
            char* end = nullptr;
            cmd.status = std::strtol(word.c_str(), &end, 10);
            if (word == "!0") cmd.status.reset();
            if (word != "!0" && (word.empty() || *end)) error("'?' needs a status or !0");
        } else {
            cmd.out += text(marked(s, '|') ? rest : s);
        }
    }

    void error(const std::string& message, int line = 0) {
        errors_.push_back(file_ + ":" + std::to_string(line ? line : line_) + ": " + message);
    }

    // Ends the case being read and begins the one `header` names (none when empty).
    void start(std::string_view header) {
        if (case_) {
            close_command();
            if (case_->commands.empty()) error("the case runs no command", case_->line);
            case_->end = header.empty() ? line_ : line_ - 1;  // the last line, or before `header`
            if (errors_.size() == errors_before_) cases_.push_back(std::move(*case_));
        }
        case_.reset();
        more_ = nullptr;
        if (header.empty()) return;
        case_.emplace();
        case_->file = file_;
        case_->line = line_;
        errors_before_ = errors_.size();
        esc_ = false;
        status_ = blanks_ = 0;
        std::string name(header);
        // Trailing @words are flags: the platform, escapes in every line, the default status.
        for (auto at = name.rfind(" @"); at != npos; at = name.rfind(" @")) {
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

    // Text with escapes decoded under @esc; a backslash at its end sets `joined` (no line feed
    // after the line).
    std::string decode(std::string_view text, bool& joined) {
        static constexpr std::string_view from = "\\ntre0", to{"\\\n\t\r\x1b\0", 6};
        joined = false;
        if (!esc_) return std::string(text);
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\') {
                out += text[i];
            } else if (i + 1 == text.size()) {
                joined = true;
            } else if (text[++i] == 'x' && i + 2 < text.size() && std::isxdigit(text[i + 1]) &&
                       std::isxdigit(text[i + 2])) {
                out +=
                    static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
                i += 2;
            } else if (from.find(text[i]) != npos) {
                out += to[from.find(text[i])];
            } else {
                error("bad backslash escape");
            }
        }
        return out;
    }

    // One line of text, followed by a line feed unless it was joined.
    std::string text(std::string_view raw) {
        bool joined = false;
        std::string line = decode(raw, joined);
        return joined ? line : line + "\n";
    }

    // Adds a line to the text that '>' lines continue; a "%" command's words are decoded one
    // by one once they are split.
    void more(std::string_view rest) {
        if (!more_) return error("'>' continues nothing");
        *more_ += words_ ? std::string(rest) + "\n" : text(rest);
    }

    // Ends the text that '>' lines continue; a command's text becomes its argument list.
    void close_command() {
        if (std::exchange(more_, nullptr) != &text_) return;
        if (text_.ends_with('\n')) text_.pop_back();
        auto& argv = case_->commands.back().argv;
        if (!words_) return void(argv = {"-c", text_});
        const auto words = split_words(text_);
        if (!words) return error("unbalanced single quote");
        bool joined = false;
        for (const auto& w : *words)
            argv.push_back(decode(w, joined));
    }

    void setting(std::string_view s) {
        const std::string key(s.substr(0, s.find(' ')));
        const std::string rest(s.substr(std::min(s.size(), key.size() + 1)));
        words_ = false;
        if (key == "file" && !rest.empty()) {
            std::istringstream paths(rest);
            int count = 0;
            for (std::string p; paths >> p; ++count) {
                if (p.find("..") != npos || p.starts_with('/'))
                    return error("a file needs a relative path without '..'");
                case_->files.emplace_back(p, "");
            }
            if (count == 1) more_ = &case_->files.back().second;
        } else if (key == "stdin" && rest.empty()) {
            more_ = &case_->input.emplace();
        } else if (key == "env" && !rest.empty()) {
            bool joined = false;
            const std::string entry = decode(rest, joined);
            const auto eq = entry.find('=');
            case_->env.emplace_back(entry.substr(0, eq), std::nullopt);
            if (eq != npos) case_->env.back().second = entry.substr(eq + 1);
        } else if (key == "timeout" && std::atoi(rest.c_str()) > 0) {
            case_->timeout = std::atoi(rest.c_str());
        } else if (key == "limit" && rest.ends_with('M') && std::atoi(rest.c_str()) > 0) {
            case_->limit = std::uint64_t(std::atoi(rest.c_str())) << 20;  // MiB
        } else {
            error("expected a setting (file, stdin, env, timeout, limit) or a command");
        }
    }
};

}  // namespace

void parse_case_file(const std::string& file, const std::string& text, std::vector<Case>& cases,
                     std::vector<std::string>& errors) {
    Reader reader{file, cases, errors};
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        reader.line(++n, line);
    reader.start("");  // ends the last case
}

}  // namespace e2e
