// The variable and alias builtins: export, unset, set, env, alias and unalias.
#include <algorithm>
#include <utility>
#include <vector>

#include "builtins/commands.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

using Pairs = std::vector<std::pair<std::string_view, std::string_view>>;

// "{name}={value}\n" for every pair, sorted by name and then by value, comparing bytes.
void append_sorted_assignments(std::string& out, Pairs pairs) {
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [name, value] : pairs) {
        out.append(name).append("=").append(value).append("\n");
    }
}

void append_alias(std::string& out, std::string_view name, std::string_view value) {
    out.append("alias ").append(name).append("='").append(value).append("'\n");
}

void report(BuiltinOutput& out, std::string_view builtin, std::string_view arg,
            std::string_view reason) {
    out.errors.append(builtin).append(": ").append(arg).append(": ").append(reason).append("\n");
}

// `export name`: marks the name and, when it has a value, mirrors it into the environment
// (set_var with the export flag does both, and words a refusal like any other assignment).
bool export_bare_name(ShellState& state, const std::string& name, BuiltinOutput& out) {
    const auto value = state.variables.find(name);
    if (value == state.variables.end()) {
        state.exported.insert(name);
        return true;
    }
    auto r = set_var(state, name, value->second, true);
    if (!r) report(out, "export", name, r.error());
    return static_cast<bool>(r);
}

}  // namespace

int builtin_export(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                   BuiltinOutput& out) {
    int status = 0;
    for (const std::string& arg : args) {
        const std::size_t eq = arg.find('=');
        if (eq == std::string::npos) {
            if (!export_bare_name(state, arg, out)) status = 1;
            continue;
        }
        auto r = set_var(state, std::string_view(arg).substr(0, eq), arg.substr(eq + 1), true);
        if (!r) {
            report(out, "export", arg, r.error());
            status = 1;
        }
    }
    return status;
}

int builtin_unset(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                  BuiltinOutput& out) {
    int status = 0;
    for (const std::string& name : args) {
        if (auto r = unset_var(state, name); !r) {
            report(out, "unset", name, r.error());
            status = 1;
        }
    }
    return status;
}

int builtin_set(ShellState& state, std::span<const std::string>, const BuiltinInput&,
                BuiltinOutput& out) {
    Pairs pairs(state.variables.begin(), state.variables.end());
    append_sorted_assignments(out.text, std::move(pairs));
    return 0;
}

// Lists the process environment itself, not the shell's variables. Entries that are not valid
// text arrive with U+FFFD in place of the broken bytes.
int builtin_env(ShellState&, std::span<const std::string>, const BuiltinInput&,
                BuiltinOutput& out) {
    const auto environment = platform::environment();
    append_sorted_assignments(out.text, Pairs(environment.begin(), environment.end()));
    return 0;
}

int builtin_alias(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                  BuiltinOutput& out) {
    if (args.empty()) {
        std::vector<const std::pair<const std::string, std::string>*> all;
        for (const auto& entry : state.aliases)
            all.push_back(&entry);
        std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->first < b->first; });
        for (const auto* entry : all)
            append_alias(out.text, entry->first, entry->second);
        return 0;
    }
    for (const std::string& arg : args) {
        const std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            state.aliases.insert_or_assign(arg.substr(0, eq), arg.substr(eq + 1));
        } else if (auto found = state.aliases.find(arg); found != state.aliases.end()) {
            append_alias(out.text, found->first, found->second);
        }
    }
    return 0;
}

int builtin_unalias(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                    BuiltinOutput&) {
    for (const std::string& name : args)
        state.aliases.erase(name);
    return 0;
}

}  // namespace kiln
