// Filename expansion: walking the file system, component by component, for the paths that
// match a pattern.
#include "expand/glob.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "expand/pattern.hpp"
#include "platform/platform.hpp"

namespace kiln {

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
// A "." right after "**" is left out unless it ends the pattern ("**/." lists directories):
// it reaches no other directory, only another spelling of each, and before a further "**"
// as many spellings as there are ways to split a path between the two.
void add_component(Plan& plan, std::string_view text, std::string_view sep) {
    std::vector<Component>& parts = plan.parts;
    const bool after_any_dirs = !parts.empty() && parts.back().role == Component::Role::AnyDirs;
    if (after_any_dirs && text == "**") {
        parts.back().sep = sep;
        return;
    }
    if (after_any_dirs && text == ".") {
        parts.push_back({Component::Role::Literal, std::string(text), {}, std::string(sep)});
        return;
    }
    if (!parts.empty() && parts.back().role == Component::Role::Literal &&
        parts.back().text == "." && parts.size() >= 2 &&
        parts[parts.size() - 2].role == Component::Role::AnyDirs) {
        parts.pop_back();  // the "." after "**" does not end the pattern
        add_component(plan, text, sep);
        return;
    }
    if (text == "**") {
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
            i = std::min(set_end(text, i), text.size());
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
