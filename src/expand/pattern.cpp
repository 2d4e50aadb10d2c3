// Filename patterns: compiling a pattern, matching a whole string against it, and walking
// the file system for the paths that match.
#include "expand/pattern.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

using Kind = PatternToken::Kind;

bool is_sep_cp(char32_t cp) {
    return cp < 0x80 && platform::is_separator(static_cast<char>(cp));
}

// set: '[' '!'? member member* ']'   with member: char ('-' char)?
// The first member may be ']'. Returns the index just after the closing ']', or npos.
Result<std::size_t, std::string> parse_set(std::string_view text, std::size_t pos,
                                           PatternToken& token) {
    token.kind = Kind::Set;
    std::size_t i = pos + 1;  // skip '['
    if (i < text.size() && text[i] == '!') {
        token.negated = true;
        ++i;
    }
    bool first = true;
    while (i < text.size()) {
        if (text[i] == ']' && !first) return i + 1;
        first = false;
        const Decoded lo = decode_utf8(text, i);
        i += lo.len;
        char32_t hi = lo.cp;
        // A '-' makes a range unless it is the last member ("[a-]").
        if (i + 1 < text.size() && text[i] == '-' && text[i + 1] != ']') {
            const Decoded end = decode_utf8(text, i + 1);
            hi = end.cp;
            i += 1 + end.len;
        }
        token.ranges.push_back({lo.cp, hi});
    }
    return fail(std::string("unclosed '[' in pattern"));
}

// A run of stars at `pos`: one star, or "**" forming a whole path component.
Result<std::size_t, std::string> parse_stars(std::string_view text, std::size_t pos,
                                             PatternToken& token) {
    std::size_t end = pos;
    while (end < text.size() && text[end] == '*')
        ++end;
    if (end - pos == 1) {
        token.kind = Kind::Star;
        return end;
    }
    const bool starts_component = pos == 0 || platform::is_separator(text[pos - 1]);
    const bool ends_component = end == text.size() || platform::is_separator(text[end]);
    if (end - pos != 2 || !starts_component || !ends_component) {
        return fail(std::string("'**' must be a whole path component"));
    }
    token.kind = Kind::AnyDirs;
    token.with_sep = end < text.size();
    return token.with_sep ? end + 1 : end;
}

bool set_contains(const PatternToken& set, char32_t cp) {
    const bool found = std::any_of(set.ranges.begin(), set.ranges.end(),
                                   [cp](const auto& r) { return r.lo <= cp && cp <= r.hi; });
    return found != set.negated;
}

// Advances the set of reachable subject positions over one token; `next` is overwritten.
// Returns false when no position is reachable any more.
bool step(const PatternToken& token, const std::vector<char32_t>& subject,
          const std::vector<unsigned char>& cur, std::vector<unsigned char>& next) {
    const std::size_t n = subject.size();
    bool any_reached = false;
    bool before = false;  // some position before j is reachable
    next[0] = 0;
    for (std::size_t j = 0; j <= n; ++j) {
        unsigned char reach = 0;
        switch (token.kind) {
            case Kind::Char:
                reach = j > 0 && cur[j - 1] && subject[j - 1] == token.ch;
                break;
            case Kind::Any:
                reach = j > 0 && cur[j - 1];
                break;
            case Kind::Set:
                reach = j > 0 && cur[j - 1] && set_contains(token, subject[j - 1]);
                break;
            case Kind::Star:
                reach = before || cur[j];
                break;
            case Kind::AnyDirs:
                // "**/" consumes nothing, or a run that ends in a separator; a final "**"
                // consumes anything.
                reach = cur[j] || (before && (!token.with_sep || is_sep_cp(subject[j - 1])));
                break;
        }
        next[j] = reach;
        before = before || cur[j];
        any_reached = any_reached || reach;
    }
    return any_reached;
}

// The character at `pos`: ASCII directly, anything else through the decoder.
Decoded char_at(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) return {byte, 1};
    return decode_utf8(text, pos);
}

// Whether a token that takes exactly one character takes `cp`.
bool takes(const PatternToken& token, char32_t cp) {
    switch (token.kind) {
        case Kind::Char:
            return token.ch == cp;
        case Kind::Any:
            return true;
        case Kind::Set:
            return set_contains(token, cp);
        case Kind::Star:
        case Kind::AnyDirs:
            break;
    }
    return false;
}

// Matching for a pattern without `**`: every token but `*` takes one character, so when a
// token fails, only the last star before it needs to take one character more. One pass over
// the subject settles nearly every pattern, and a literal prefix rules most names out within
// a few bytes.
bool match_stars(std::span<const PatternToken> tokens, std::string_view subject) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t t = 0;
    std::size_t s = 0;
    std::size_t star_t = kNone;  // the token after the last star passed, and where it began
    std::size_t star_s = 0;
    while (s < subject.size()) {
        if (t < tokens.size() && tokens[t].kind == Kind::Star) {
            star_t = ++t;
            star_s = s;
            if (star_t == tokens.size()) return true;  // a final star takes all the rest
            continue;
        }
        const Decoded d = char_at(subject, s);
        if (t < tokens.size() && takes(tokens[t], d.cp)) {
            ++t;
            s += d.len;
            continue;
        }
        if (star_t == kNone) return false;
        t = star_t;
        star_s += char_at(subject, star_s).len;
        s = star_s;
    }
    while (t < tokens.size() && tokens[t].kind == Kind::Star)
        ++t;
    return t == tokens.size();
}

}  // namespace

Result<Pattern, std::string> Pattern::compile(std::string_view text) {
    Pattern pattern;
    std::size_t i = 0;
    while (i < text.size()) {
        PatternToken token;
        if (text[i] == '[') {
            auto end = parse_set(text, i, token);
            if (!end) return fail(end.error());
            i = *end;
        } else if (text[i] == '*') {
            auto end = parse_stars(text, i, token);
            if (!end) return fail(end.error());
            i = *end;
        } else if (text[i] == '?') {
            token.kind = Kind::Any;
            ++i;
        } else {
            const Decoded d = decode_utf8(text, i);
            token.ch = d.cp;
            i += d.len;
        }
        pattern.any_dirs_ = pattern.any_dirs_ || token.kind == Kind::AnyDirs;
        pattern.tokens_.push_back(std::move(token));
    }
    return pattern;
}

bool Pattern::matches(std::string_view subject) const {
    if (!any_dirs_) return match_stars(tokens_, subject);
    // With `**` the set of reachable positions is carried token by token. Positions are counted in
    // characters; the subject is decoded once.
    thread_local std::vector<char32_t> chars;
    thread_local std::vector<unsigned char> cur;
    thread_local std::vector<unsigned char> next;
    chars.clear();
    for (std::size_t i = 0; i < subject.size();) {
        const Decoded d = decode_utf8(subject, i);
        chars.push_back(d.cp);
        i += d.len;
    }
    cur.assign(chars.size() + 1, 0);
    next.assign(chars.size() + 1, 0);
    cur[0] = 1;
    for (const PatternToken& token : tokens_) {
        if (!step(token, chars, cur, next)) return false;
        cur.swap(next);
    }
    return cur[chars.size()] != 0;
}

bool has_pattern_chars(std::string_view text) {
    return text.find_first_of("*?[") != std::string_view::npos;
}

// ---- the file-system walk ------------------------------------------------------------------

namespace {

// One path component of a pattern, as the walk treats it.
struct Component {
    enum class Role { Literal, Glob, AnyDirs };
    Role role = Role::Literal;
    std::string text;                // as typed; a run of literal components keeps its separators
    std::optional<Pattern> pattern;  // Glob
    std::string sep;                 // separators typed after it; empty for the last
};

struct Plan {
    std::string root;  // "/", or on Windows "C:", "C:\", "\"; empty for a relative pattern
    std::vector<Component> parts;
    std::string trailing;  // separators after the last component: only directories match
};

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The length of the root: a drive (only where '\\' separates components, i.e. on Windows)
// and the separators that follow.
std::size_t root_length(std::string_view text) {
    std::size_t i = 0;
    if (platform::is_separator('\\') && text.size() >= 2 && text[1] == ':' &&
        is_ascii_letter(text[0])) {
        i = 2;
    }
    while (i < text.size() && platform::is_separator(text[i]))
        ++i;
    return i;
}

// Literal runs are merged into one component (tested with one look-up), and "**/**" is "**".
void add_component(Plan& plan, std::string_view text, std::string_view sep) {
    std::vector<Component>& parts = plan.parts;
    if (text == "**") {
        if (!parts.empty() && parts.back().role == Component::Role::AnyDirs) return;
        parts.push_back({Component::Role::AnyDirs, std::string(text), {}, std::string(sep)});
    } else if (has_pattern_chars(text)) {
        Component part{Component::Role::Glob, std::string(text), {}, std::string(sep)};
        auto compiled = Pattern::compile(text);
        if (compiled) part.pattern = std::move(*compiled);
        parts.push_back(std::move(part));
    } else if (!parts.empty() && parts.back().role == Component::Role::Literal) {
        parts.back().text += parts.back().sep;
        parts.back().text += text;
        parts.back().sep = sep;
    } else {
        parts.push_back({Component::Role::Literal, std::string(text), {}, std::string(sep)});
    }
}

// Splits a pattern already known to compile at the separators outside sets.
Plan make_plan(std::string_view text) {
    Plan plan;
    std::size_t i = root_length(text);
    plan.root = text.substr(0, i);
    while (i < text.size()) {
        const std::size_t start = i;
        while (i < text.size() && !platform::is_separator(text[i])) {
            if (text[i] != '[') {
                ++i;
                continue;
            }
            PatternToken scratch;
            auto set_end = parse_set(text, i, scratch);
            i = set_end ? *set_end : text.size();
        }
        const std::size_t sep_start = i;
        while (i < text.size() && platform::is_separator(text[i]))
            ++i;
        add_component(plan, text.substr(start, sep_start - start),
                      text.substr(sep_start, i - sep_start));
    }
    if (!plan.parts.empty()) plan.trailing = std::exchange(plan.parts.back().sep, "");
    return plan;
}

// The separator used to join names that "**" adds: the first one typed, else the system's.
char join_separator(std::string_view text) {
    for (const char c : text) {
        if (platform::is_separator(c)) return c;
    }
    return platform::join_path("a", "b")[1];
}

// Walks component by component, depth first. `base` is empty (the current directory) or
// ends with a separator or the root.
class Walker {
public:
    Walker(const Plan& plan, char join) : plan_(plan), join_(join) {}

    std::vector<std::string> run() {
        if (plan_.parts.empty()) {
            if (platform::file_kind(plan_.root) != platform::FileKind::Missing) {
                found_.push_back(plan_.root);
            }
        } else {
            walk(plan_.root, 0);
        }
        return std::move(found_);
    }

private:
    using Entries = std::vector<platform::DirEntry>;

    bool is_last(std::size_t i) const { return i + 1 == plan_.parts.size(); }

    static std::optional<Entries> list(const std::string& base) {
        // Ctrl-C stops a long search between directories; the command then does not run.
        if (platform::interrupt_pending()) return std::nullopt;
        auto entries = platform::list_dir_names(base.empty() ? "." : base);
        if (!entries) return std::nullopt;  // unreadable directories are left out
        return std::move(*entries);
    }

    // A directory, or a link to one (ordinary components follow links; "**" does not).
    static bool leads_to_dir(const platform::DirEntry& entry, const std::string& path) {
        return entry.is_dir ||
               (entry.is_link && platform::file_kind(path) == platform::FileKind::Directory);
    }

    void emit(std::string path, bool is_dir) {
        if (!plan_.trailing.empty()) {
            if (!is_dir) return;
            path += plan_.trailing;
        }
        found_.push_back(std::move(path));
    }

    void emit_entry(const std::string& base, const platform::DirEntry& entry) {
        std::string path = base + entry.name;
        const bool is_dir = !plan_.trailing.empty() && leads_to_dir(entry, path);
        emit(std::move(path), is_dir);
    }

    void walk(const std::string& base, std::size_t i) {
        const Component& part = plan_.parts[i];
        switch (part.role) {
            case Component::Role::Literal:
                walk_literal(base, i);
                break;
            case Component::Role::Glob:
                if (auto entries = list(base)) match_entries(base, *entries, i);
                break;
            case Component::Role::AnyDirs:
                walk_any_dirs(base, i);
                break;
        }
    }

    // A name without pattern characters is only tested for existence, never listed.
    void walk_literal(const std::string& base, std::size_t i) {
        const Component& part = plan_.parts[i];
        std::string path = base + part.text;
        const platform::FileKind kind = platform::file_kind(path);
        if (is_last(i)) {
            if (kind != platform::FileKind::Missing) {
                emit(std::move(path), kind == platform::FileKind::Directory);
            }
        } else if (kind == platform::FileKind::Directory) {
            walk(path + part.sep, i + 1);
        }
    }

    void match_entries(const std::string& base, const Entries& entries, std::size_t i) {
        const Component& part = plan_.parts[i];
        if (found_.empty() && is_last(i)) found_.reserve(entries.size());
        for (const platform::DirEntry& entry : entries) {
            if (!part.pattern->matches(entry.name)) continue;
            if (is_last(i)) {
                emit_entry(base, entry);
                continue;
            }
            const std::string path = base + entry.name;
            if (leads_to_dir(entry, path)) walk(path + part.sep, i + 1);
        }
    }

    // "**" at `base`: the rest of the pattern is tried here (reusing this listing) and in
    // every directory below. Links to directories are not entered, so cycles cannot occur.
    void walk_any_dirs(const std::string& base, std::size_t i) {
        const auto entries = list(base);
        if (!entries) return;
        const bool last = is_last(i);
        if (last) {
            for (const platform::DirEntry& entry : *entries)
                emit_entry(base, entry);
        } else if (plan_.parts[i + 1].role == Component::Role::Glob) {
            match_entries(base, *entries, i + 1);
        } else {
            walk(base, i + 1);
        }
        const std::string sep = last ? std::string(1, join_) : plan_.parts[i].sep;
        for (const platform::DirEntry& entry : *entries) {
            if (entry.is_dir) walk_any_dirs(base + entry.name + sep, i);
        }
    }

    const Plan& plan_;
    char join_;
    std::vector<std::string> found_;
};

// The paths in byte order, each once ("**/a/**/b" can reach one path by two routes). Names
// nearly always differ within their first eight bytes, so the sort compares those as one
// integer and whole paths only on a tie, and it moves small keys instead of strings.
std::vector<std::string> sorted_once(std::vector<std::string> paths) {
    struct SortKey {
        std::uint64_t prefix;  // the first eight bytes, big-endian, zero-padded
        std::size_t index;
    };
    std::vector<SortKey> keys(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        std::uint64_t prefix = 0;
        for (std::size_t b = 0; b < 8; ++b) {
            prefix = prefix << 8 | (b < path.size() ? static_cast<unsigned char>(path[b]) : 0U);
        }
        keys[i] = {prefix, i};
    }
    std::sort(keys.begin(), keys.end(), [&paths](const SortKey& a, const SortKey& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : paths[a.index] < paths[b.index];
    });
    std::vector<std::string> sorted;
    sorted.reserve(paths.size());
    for (const SortKey& key : keys) {
        std::string& path = paths[key.index];
        if (sorted.empty() || sorted.back() != path) sorted.push_back(std::move(path));
    }
    return sorted;
}

}  // namespace

Result<std::vector<std::string>, std::string> glob_paths(std::string_view pattern) {
    if (auto compiled = Pattern::compile(pattern); !compiled) return fail(compiled.error());
    // No path holds a NUL byte; the system would read the pattern cut short at it, and "**"
    // would then descend into the same directory again and again.
    if (pattern.find('\0') != std::string_view::npos) return std::vector<std::string>{};
    const Plan plan = make_plan(pattern);
    return sorted_once(Walker(plan, join_separator(pattern)).run());
}

}  // namespace kiln
