// Reads case files: "=== name" starts a case, "--- keyword" starts one of its sections.
#include "case_file.hpp"

#include <charconv>
#include <set>
#include <sstream>

namespace e2e {
namespace {

struct Section {
    std::string keyword;
    std::vector<std::string> words;  // the header's words after the keyword
    int line = 0;
    std::vector<std::string> lines;
};

struct RawCase {
    std::string name;
    int line = 0;
    std::vector<Section> sections;
};

const std::set<std::string> kKeywords = {"sh",       "script",  "args",   "argv",
                                         "stdin",    "stdout",  "stderr", "status",
                                         "platform", "timeout", "env",    "file"};

std::vector<std::string> split_words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool is_blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Interprets backslash escapes; returns nothing when the text holds an unknown escape.
std::optional<std::string> unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'e':
                out += '\x1b';
                break;
            case '0':
                out += '\0';
                break;
            case '\n':
                break;  // a backslash at the end of a line joins it to the next
            case 'x': {
                int hi = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
                int lo = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
                if (hi < 0 || lo < 0) return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

class Reader {
public:
    Reader(const std::string& file, CaseFile& out) : file_(file), out_(out) {}

    void error(int line, const std::string& message) {
        out_.errors.push_back({file_, line, message});
    }

    bool has_flag(const Section& s, const std::string& flag) {
        for (const auto& w : s.words)
            if (w == flag) return true;
        return false;
    }

    // The words of a header that are not flags.
    std::vector<std::string> plain_words(const Section& s) {
        std::vector<std::string> words;
        for (const auto& w : s.words)
            if (w != "esc" && w != "noeol") words.push_back(w);
        return words;
    }

    // The section's lines as one text: each line ends in a newline unless "noeol" is given.
    std::optional<std::string> block(const Section& s) {
        std::string text;
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            text += s.lines[i];
            if (i + 1 < s.lines.size() || !has_flag(s, "noeol")) text += '\n';
        }
        if (!has_flag(s, "esc")) return text;
        auto decoded = unescape(text);
        if (!decoded) error(s.line, "bad backslash escape in an 'esc' section");
        return decoded;
    }

    // One item per line (arguments, environment entries).
    std::optional<std::vector<std::string>> items(const Section& s) {
        std::vector<std::string> result;
        for (const auto& line : s.lines) {
            if (!has_flag(s, "esc")) {
                result.push_back(line);
                continue;
            }
            auto decoded = unescape(line);
            if (!decoded) {
                error(s.line, "bad backslash escape in an 'esc' section");
                return std::nullopt;
            }
            result.push_back(*decoded);
        }
        return result;
    }

    bool expect_no_content(const Section& s) {
        for (const auto& line : s.lines) {
            if (!is_blank(line)) {
                error(s.line, "'--- " + s.keyword + "' takes no lines below it");
                return false;
            }
        }
        return true;
    }

    void apply(const Section& s, Case& c, bool& has_mode) {
        const auto words = plain_words(s);
        const std::string& k = s.keyword;
        if (k == "sh" || k == "script") {
            if (has_mode) error(s.line, "a case has one '--- sh' or '--- script' section");
            has_mode = true;
            if (auto text = block(s)) c.script_text = *text;
            if (k == "script") c.script = words.empty() ? "script.sh" : words[0];
        } else if (k == "args" || k == "argv") {
            if (auto list = items(s)) {
                c.argv = *list;
            }
            if (k == "argv") argv_given_ = true;
            if (k == "args") args_given_ = true;
        } else if (k == "stdin") {
            c.stdin_text = block(s).value_or("");
        } else if (k == "stdout") {
            c.expected.stdout_text = block(s).value_or("");
        } else if (k == "stderr") {
            c.expected.stderr_text = block(s).value_or("");
        } else if (k == "status") {
            expect_no_content(s);
            read_status(s, words, c);
        } else if (k == "platform") {
            expect_no_content(s);
            read_platform(s, words, c);
        } else if (k == "timeout") {
            expect_no_content(s);
            int value = 0;
            if (words.size() != 1 || !parse_int(words[0], value) || value <= 0)
                error(s.line, "'--- timeout' needs a number of seconds");
            else
                c.timeout_seconds = value;
        } else if (k == "env") {
            read_env(s, c);
        } else if (k == "file") {
            read_file_section(s, words, c);
        }
    }

    static bool parse_int(const std::string& text, int& value) {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size();
    }

    void read_status(const Section& s, const std::vector<std::string>& words, Case& c) {
        int value = 0;
        if (words.size() == 1 && words[0] == "!0")
            c.expected.status.reset();
        else if (words.size() == 1 && parse_int(words[0], value))
            c.expected.status = value;
        else
            error(s.line, "'--- status' needs a number or !0");
    }

    void read_platform(const Section& s, const std::vector<std::string>& words, Case& c) {
        if (words.size() == 1 && words[0] == "both")
            c.platform = Platform::Both;
        else if (words.size() == 1 && words[0] == "posix")
            c.platform = Platform::Posix;
        else if (words.size() == 1 && words[0] == "windows")
            c.platform = Platform::Windows;
        else
            error(s.line, "'--- platform' needs both, posix or windows");
    }

    void read_env(const Section& s, Case& c) {
        auto list = items(s);
        if (!list) return;
        for (const auto& entry : *list) {
            if (is_blank(entry)) continue;
            auto eq = entry.find('=');
            if (eq == std::string::npos)
                c.env.emplace_back(entry, std::nullopt);
            else
                c.env.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
        }
    }

    void read_file_section(const Section& s, const std::vector<std::string>& words, Case& c) {
        if (words.size() != 1) {
            error(s.line, "'--- file' needs one path");
            return;
        }
        FileSpec f;
        f.path = words[0];
        if (f.path.starts_with("~/")) {
            f.in_home = true;
            f.path = f.path.substr(2);
        }
        if (f.path.empty() || f.path.starts_with('/') || f.path.find("..") != std::string::npos) {
            error(s.line, "'--- file' needs a relative path without '..'");
            return;
        }
        f.content = block(s).value_or("");
        c.files.push_back(f);
    }

    void finish(RawCase& raw) {
        // Blank lines that separate one case from the next belong to no section.
        if (!raw.sections.empty()) {
            auto& lines = raw.sections.back().lines;
            while (!lines.empty() && is_blank(lines.back()))
                lines.pop_back();
        }
        Case c;
        c.file = file_;
        c.line = raw.line;
        c.name = raw.name;
        bool has_mode = false;
        args_given_ = argv_given_ = false;
        const std::size_t errors_before = out_.errors.size();
        std::set<std::string> seen;
        for (const auto& s : raw.sections) {
            if (!seen.insert(s.keyword).second && s.keyword != "file")
                error(s.line, "'--- " + s.keyword + "' appears twice in one case");
            apply(s, c, has_mode);
        }
        if (!has_mode && !argv_given_)
            error(raw.line, "the case has no '--- sh', '--- script' or '--- argv'");
        if (args_given_ && argv_given_) error(raw.line, "use '--- args' or '--- argv', not both");
        if (argv_given_ && seen.count("sh"))
            error(raw.line, "'--- argv' replaces '--- sh'; give the text as an argument");
        if (!names_.insert(raw.name).second) error(raw.line, "two cases share this name");
        if (out_.errors.size() == errors_before) finish_mode(c);
        if (out_.errors.size() == errors_before) out_.cases.push_back(std::move(c));
    }

    // Builds the argument vector from the mode: "-c TEXT args..." or "SCRIPT args...".
    void finish_mode(Case& c) {
        if (argv_given_) {
            if (c.script) c.files.push_back({*c.script, false, c.script_text, true});
            return;
        }
        std::vector<std::string> argv;
        if (c.script) {
            argv.push_back(*c.script);
            c.files.push_back({*c.script, false, c.script_text, true});
        } else {
            argv = {"-c", c.script_text};
        }
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        c.argv = std::move(argv);
    }

private:
    bool args_given_ = false;
    bool argv_given_ = false;
    std::string file_;
    CaseFile& out_;
    std::set<std::string> names_;
};

}  // namespace

CaseFile parse_case_file(const std::string& file_name, const std::string& text) {
    CaseFile out;
    Reader reader(file_name, out);
    std::optional<RawCase> current;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.starts_with("##")) continue;
        if (line.starts_with("=== ")) {
            if (current) reader.finish(*current);
            current = RawCase{line.substr(4), number, {}};
            if (is_blank(current->name)) reader.error(number, "a case needs a name");
            continue;
        }
        if (line.starts_with("--- ")) {
            auto words = split_words(line.substr(4));
            if (!words.empty() && kKeywords.count(words[0])) {
                if (!current) {
                    reader.error(number, "a section outside any case");
                    continue;
                }
                std::string keyword = words[0];
                words.erase(words.begin());
                current->sections.push_back({keyword, words, number, {}});
                continue;
            }
        }
        if (current && !current->sections.empty()) {
            current->sections.back().lines.push_back(line);
        } else if (!is_blank(line)) {
            reader.error(number, "text outside any section (comments begin with ##)");
        }
    }
    if (current) reader.finish(*current);
    return out;
}

}  // namespace e2e
