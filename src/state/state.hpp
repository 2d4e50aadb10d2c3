// ShellState: everything the shell remembers between commands. Exactly one exists per
// process; it is passed by mutable reference and never copied.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/result.hpp"
#include "parser/node.hpp"
#include "state/pending.hpp"

namespace kiln {

namespace platform {
class Handle;
bool take_interrupt();  // platform.hpp: a Ctrl-C or an ending arrived since the last call
}  // namespace platform

// Hashes std::string and std::string_view alike, so that the name tables below can be
// searched with a view of a name without building a string for it. Names are short and
// hashed for nearly every command, so the hash is FNV-1a: a few operations per byte, where
// the library's general-purpose hash spends more on setup than on a short name.
struct NameHash {
    using is_transparent = void;
    constexpr std::size_t operator()(std::string_view name) const noexcept {
        std::uint64_t hash = 14695981039346656037ull;
        for (const char c : name) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        return static_cast<std::size_t>(hash);
    }
};
using NameMap = std::unordered_map<std::string, std::string, NameHash, std::equal_to<>>;
using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;

struct ShellState {
    std::vector<std::string> positional;  // element 0 is $1
    std::string shell_name = "kiln";      // $0
    std::string cwd;                      // kept equal to the process's current directory
    NameMap variables;
    NameSet exported;  // may hold names without a value
    NameMap aliases;
    // Bodies are shared and immutable: a call holds its own reference, so a redefinition
    // while the function runs does not change the body being run, and no call copies a tree.
    std::unordered_map<std::string, Tree> functions;
    // The memory of the tree being evaluated: a function defined there shares it instead of
    // copying its body (paid for by the function-call shape of bench/language.sh).
    std::shared_ptr<const void> tree_memory;
    std::int32_t last_status = 0;
    // Command substitutions run so far: a command of assignments only takes the status of
    // its last one, so it must tell whether its words ran any.
    std::uint64_t substitutions = 0;
    Pending pending;          // what the running text unwinds for (pending.hpp)
    std::uint32_t loops = 0;  // loops running, in every function and text
    int depth = 0;            // current nesting of evaluate, bounded by kMaxEvalDepth
    // Where standard error goes while a function called with `2>` runs; null: the shell's own.
    const platform::Handle* stderr_sink = nullptr;
};

// The start-up population: cwd, default aliases, the environment imported and exported,
// and HOME from the profile folder when the environment has none.
void init_state(ShellState& state);

// A variable or special parameter ($?, $$, $0, $#, $@, $*, $1...); absent when unset.
std::optional<std::string> get_var(const ShellState& state, std::string_view name);
// The stored value of an ordinary variable, without a copy; null when unset. Special
// parameters are not found here: they are computed by get_var.
const std::string* find_variable(const ShellState& state, std::string_view name);
// Assigns; exported names are mirrored into the process environment. Fails (after storing
// the value) with a one-line reason when the environment refuses the name or value.
Result<void, std::string> set_var(ShellState& state, std::string_view name, std::string value,
                                  bool exported);
// Removes the variable and its export mark (and the environment entry of an exported name).
Result<void, std::string> unset_var(ShellState& state, std::string_view name);

// True while a request is pending. Inline: it is asked after nearly every command.
inline bool should_unwind(const ShellState& state) {
    return state.pending.request != Request::None;
}

// Turns a Ctrl-C received since the last look into a pending interrupt with status 130;
// true when there was one. Inline: it is asked before and after every command.
inline bool notice_interrupt(ShellState& state) {
    if (!platform::take_interrupt()) return false;
    request(state, {Request::Interrupt, 0, 0});
    state.last_status = 130;
    return true;
}

// Ends the running command for want of memory: "kiln: {text}" on standard error, status 1,
// and the rest of the text unwinds as an overflow. Returns the status.
int out_of_memory(ShellState& state, std::string_view text);

// Standard error as the running command sees it: a function's `2>` file, else the shell's.
void write_error_output(const ShellState& state, std::string_view bytes);

// One of the shell's own message lines: "kiln: {text}\n" on the current standard error.
void report(const ShellState& state, std::string_view text);

}  // namespace kiln
