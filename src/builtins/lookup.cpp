// `which` and `type`: how a command name would be understood.
#include <algorithm>

#include "builtins/commands.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

bool has_separator(std::string_view name) {
    return std::any_of(name.begin(), name.end(), platform::is_separator);
}

// What to print for a name that is neither a builtin nor a function; absent when not found.
std::optional<std::string> find_file_or_program(const std::string& name) {
    if (has_separator(name)) {
        // A path is taken as it is (relative to the current directory), never searched.
        if (!has_nul(name) && platform::file_kind(name) == platform::FileKind::Regular) {
            return name;
        }
        return std::nullopt;
    }
    if (has_nul(name)) return std::nullopt;
    return platform::find_program(name);
}

}  // namespace

int builtin_which(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                  BuiltinOutput& out) {
    int status = 0;
    for (const std::string& name : args) {
        if (find_builtin(name) != nullptr) {
            out.text.append(name).append(": shell builtin\n");
        } else if (state.functions.contains(name)) {
            out.text.append(name).append(": shell function\n");
        } else if (auto found = find_file_or_program(name)) {
            out.text.append(*found).append("\n");
        } else {
            out.errors.append(name).append(": not found\n");
            status = 1;
        }
    }
    return status;
}

}  // namespace kiln
