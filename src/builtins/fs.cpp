// The file-system builtins: cd, pwd and ls.
#include <algorithm>
#include <vector>

#include "builtins/commands.hpp"
#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

constexpr std::size_t kSizeWidth = 11;  // `ls -l` right-aligns sizes in this many columns

// The text `cd` aims at before it is resolved; empty when there is none.
std::string cd_target(const ShellState& state, std::span<const std::string> args) {
    if (args.empty()) {
        if (auto home = get_var(state, "HOME")) return *home;
        return platform::home_dir().value_or("");
    }
    if (args[0] == "-") return get_var(state, "OLDPWD").value_or("");
    return args[0];
}

// A path the user typed, made absolute against the shell's directory and normalized.
std::string resolve_against_cwd(const ShellState& state, std::string_view path) {
    if (platform::is_absolute(path)) return std::string(path);
    return platform::normalize_path(platform::join_path(state.cwd, path));
}

platform::FileKind kind_of(const std::string& path) {
    return has_nul(path) ? platform::FileKind::Missing : platform::file_kind(path);
}

struct LsOptions {
    bool all = false;
    bool long_format = false;
    std::vector<std::string_view> paths;
};

// "-" alone is a path; any longer word starting with "-" is an option word, never an error.
LsOptions parse_ls_args(std::span<const std::string> args) {
    LsOptions opts;
    for (const std::string& arg : args) {
        if (arg.size() > 1 && arg[0] == '-') {
            opts.all = opts.all || arg.find('a') != std::string::npos;
            opts.long_format = opts.long_format || arg.find('l') != std::string::npos;
        } else {
            opts.paths.push_back(arg);
        }
    }
    if (opts.paths.empty()) opts.paths.push_back(".");
    return opts;
}

void append_entry(std::string& out, const platform::DirEntry& entry, bool long_format) {
    if (long_format) {
        out += entry.is_dir ? 'd' : '-';
        out += ' ';
        const std::string size = std::to_string(entry.size);
        if (size.size() < kSizeWidth) out.append(kSizeWidth - size.size(), ' ');
        out += size;
        out += "  ";
    }
    out += entry.name;  // raw bytes of the name, as the directory holds them
    if (entry.is_dir) out += '/';
    out += '\n';
}

// Lists one directory into out.text; false when it cannot be read.
bool list_directory(const std::string& resolved, std::string_view shown, const LsOptions& opts,
                    BuiltinOutput& out) {
    // Only the long format needs sizes; without it, listing skips examining every entry.
    auto listing =
        opts.long_format ? platform::list_dir(resolved) : platform::list_dir_names(resolved);
    if (!listing) {
        out.errors +=
            "ls: " + std::string(shown) + ": " + platform::describe(listing.error()) + "\n";
        return false;
    }
    std::vector<platform::DirEntry>& entries = *listing;
    if (!opts.all) {
        std::erase_if(entries, [](const platform::DirEntry& e) {
            return e.name.starts_with('.') || e.hidden;
        });
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& entry : entries)
        append_entry(out.text, entry, opts.long_format);
    return true;
}

}  // namespace

int builtin_cd(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
               BuiltinOutput& out) {
    const std::string target = cd_target(state, args);
    if (target.empty()) {
        out.errors += "cd: no target\n";
        return 1;
    }
    // Unlike `ls`, `cd` normalizes absolute targets too, so that cwd never holds "..".
    std::string path = platform::normalize_path(platform::join_path(state.cwd, target));
    const platform::FileKind kind = kind_of(path);
    if (kind != platform::FileKind::Directory) {
        const char* reason =
            kind == platform::FileKind::Missing ? "No such file or directory" : "Not a directory";
        out.errors += "cd: " + target + ": " + reason + "\n";
        return 1;
    }
    std::string previous = std::exchange(state.cwd, path);
    (void)platform::set_current_dir(state.cwd);  // cwd stays authoritative if this fails
    int status = 0;
    for (auto& [name, value] : {std::pair{"OLDPWD", to_valid_utf8(previous)},
                                std::pair{"PWD", to_valid_utf8(state.cwd)}}) {
        if (auto r = set_var(state, name, value, true); !r) {
            out.errors += std::string("cd: ") + name + ": " + r.error() + "\n";
            status = 1;
        }
    }
    return status;
}

int builtin_pwd(ShellState& state, std::span<const std::string>, const BuiltinInput&,
                BuiltinOutput& out) {
    out.text += state.cwd;
    out.text += '\n';
    return 0;
}

int builtin_ls(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
               BuiltinOutput& out) {
    const LsOptions opts = parse_ls_args(args);
    const bool headers = opts.paths.size() > 1;
    int status = 0;
    for (std::size_t i = 0; i < opts.paths.size(); ++i) {
        const std::string_view shown = opts.paths[i];
        const std::string resolved = resolve_against_cwd(state, shown);
        const platform::FileKind kind = kind_of(resolved);
        if (kind == platform::FileKind::Directory) {
            if (headers) {
                if (i > 0) out.text += '\n';
                out.text.append(shown).append(":\n");
            }
            if (!list_directory(resolved, shown, opts, out)) status = 1;
        } else if (kind != platform::FileKind::Missing) {
            out.text.append(shown).append("\n");
        } else {
            out.errors.append("ls: ").append(shown).append(": no such file or directory\n");
            status = 1;
        }
    }
    return status;
}

}  // namespace kiln
