// Tab completion: builtin and PATH program names for the first word, file names elsewhere.
#include "main/completion.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>

#include "builtins/builtins.hpp"
#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// Characters that end a file-name word when they are not inside double quotes.
constexpr std::string_view kBreakChars{"\0\t\n \"$&'(;<=>@`{|", 17};

bool is_break_char(char c) {
    return kBreakChars.find(c) != std::string_view::npos;
}

std::string lowercase_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The offset just after the last Unicode white-space character of `before`; 0 when none.
std::size_t after_last_space(std::string_view before) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < before.size();) {
        const Decoded d = decode_utf8(before, i);
        i += d.len;
        if (is_unicode_space(d.cp)) start = i;
    }
    return start;
}

// A first word completes as a command unless it looks like a path.
bool wants_command(std::string_view lead, std::string_view word) {
    return lead.empty() && !word.empty() && word.find_first_of("/\\") == std::string_view::npos &&
           word.front() != '.' && word.front() != '~';
}

void sort_by_display(std::vector<Candidate>& candidates) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.display < b.display; });
}

std::vector<Candidate> command_candidates(std::string_view word) {
    std::vector<Candidate> out;
    std::unordered_set<std::string> offered;
    auto offer = [&](std::string_view name) {
        if (offered.emplace(name).second)
            out.push_back({std::string(name), std::string(name) + " "});
    };
    for (const Builtin& b : builtin_table()) {
        if (!b.name.empty() && b.name.starts_with(word)) offer(b.name);
    }
    for (const std::string& name : platform::list_programs(word, kMaxProgramCandidates)) {
        offer(name);
    }
    return out;
}

// ---- file names ----------------------------------------------------------------------------

// Where the file-name word begins and what it says once its quoting is undone.
struct FileWord {
    std::size_t start = 0;
    bool in_quotes = false;  // the word follows an unclosed double quote
    std::string text;
};

// Inside double quotes a backslash escapes these characters and is dropped, as the lexer does.
bool escapable_in_quotes(char c) {
    return c == '"' || c == '\\' || c == '`' || c == '$';
}

std::string unescape_quoted(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && escapable_in_quotes(raw[i + 1])) ++i;
        out += raw[i];
    }
    return out;
}

FileWord find_file_word(std::string_view before) {
    // Double quotes open and close in turn; inside them a backslash makes the next character
    // ordinary. An unclosed quote starts the word.
    std::optional<std::size_t> open_quote;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (open_quote && before[i] == '\\') {
            ++i;
        } else if (before[i] == '"') {
            open_quote = open_quote ? std::nullopt : std::optional<std::size_t>(i);
        }
    }
    if (open_quote) {
        const std::size_t start = *open_quote + 1;
        return {start, true, unescape_quoted(before.substr(start))};
    }
    std::size_t start = before.size();
    while (start > 0 && !is_break_char(before[start - 1]))
        --start;
    return {start, false, std::string(before.substr(start))};
}

// The folder that "~" stands for: the profile folder the environment names, else the one
// found at start-up.
std::optional<std::string> completion_home() {
    if (auto profile = platform::profile_dir_from_env()) return profile;
    return platform::home_dir();
}

// The directory to list for the typed directory part ("" is the current directory).
std::optional<std::string> resolve_dir(const std::string& dir_part) {
    constexpr char kHome[] = {'~', platform::kDirSeparator, '\0'};
    if (dir_part.starts_with(kHome)) {
        const auto home = completion_home();
        if (!home) return std::nullopt;
        // Below the home directory however many separators follow "~", as the tilde expands.
        const std::size_t rest = dir_part.find_first_not_of(platform::kDirSeparator, 2);
        return platform::join_path(*home, rest == std::string::npos ? "" : dir_part.substr(rest));
    }
    if (platform::is_absolute(dir_part)) return dir_part;
    auto cwd = platform::current_dir();
    if (!cwd) return std::nullopt;
    return dir_part.empty() ? *cwd : platform::join_path(*cwd, dir_part);
}

// A name with a break character is quoted: a leading double quote when the word is bare.
// The characters the quote treats specially get a backslash, so that a quote or a dollar sign
// in the name stays part of it. Inside a quote the user opened every backslash is doubled;
// after a new leading quote only one the quote would read as an escape, before a special
// character or at the end, where the closing quote will follow.
std::string quote_replacement(const std::string& text, bool in_quotes) {
    if (!in_quotes && std::none_of(text.begin(), text.end(), is_break_char)) return text;
    std::string out = in_quotes ? "" : "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool kept_backslash = text[i] == '\\' && !in_quotes && i + 1 < text.size() &&
                                    !escapable_in_quotes(text[i + 1]);
        if (escapable_in_quotes(text[i]) && !kept_backslash) out += '\\';
        out += text[i];
    }
    return out;
}

bool is_directory_entry(const std::string& dir, const platform::DirEntry& entry) {
    if (entry.is_dir) return true;
    return entry.is_link && platform::file_kind(platform::join_path(dir, entry.name)) ==
                                platform::FileKind::Directory;
}

}  // namespace

Completion complete_filename(std::string_view line, std::size_t pos) {
    const std::string_view before = line.substr(0, std::min(pos, line.size()));
    const FileWord word = find_file_word(before);
    Completion result{word.start, {}};

    const std::size_t slash = word.text.rfind(platform::kDirSeparator);
    const std::string dir_part = slash == std::string::npos ? "" : word.text.substr(0, slash + 1);
    const std::string file_part = lowercase_ascii(word.text.substr(dir_part.size()));
    const auto dir = resolve_dir(dir_part);
    if (!dir) return result;
    auto entries = platform::list_dir(*dir);
    if (!entries) return result;

    for (const auto& entry : *entries) {
        if (!is_valid_utf8(entry.name) || !lowercase_ascii(entry.name).starts_with(file_part)) {
            continue;
        }
        std::string text = dir_part + entry.name;
        if (is_directory_entry(*dir, entry)) text += platform::kDirSeparator;
        result.candidates.push_back({entry.name, quote_replacement(text, word.in_quotes)});
    }
    sort_by_display(result.candidates);
    return result;
}

Completion complete(std::string_view line, std::size_t pos) {
    const std::string_view before = line.substr(0, std::min(pos, line.size()));
    const std::size_t start = after_last_space(before);
    const std::string_view word = before.substr(start);
    if (!wants_command(trim_unicode_space(before.substr(0, start)), word)) {
        return complete_filename(line, pos);
    }
    std::vector<Candidate> candidates = command_candidates(word);
    if (candidates.empty()) return complete_filename(line, pos);
    sort_by_display(candidates);
    return {start, std::move(candidates)};
}

}  // namespace kiln
