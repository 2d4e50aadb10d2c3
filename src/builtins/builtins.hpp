// The built-in commands: one signature, one table.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.hpp"
#include "state/state.hpp"

namespace kiln {

// What a builtin writes; run_simple delivers both buffers after the builtin returns.
struct BuiltinIo {
    std::string out;
    std::string err;
    // True when `input` views a buffer that nothing needs after the builtin (piped or
    // redirected bytes). A builtin that passes its input on unchanged may then set pass_input
    // instead of copying it: its output is that buffer, followed by `out`.
    bool input_owned = false;
    bool pass_input = false;
    // For a builtin that runs shell text (Builtin::runs_text): the command's input data, which
    // the text's commands take over, and where their standard output goes (null: the shell's
    // own standard output), so that they print where the command itself would.
    std::optional<platform::Spool>* input_data = nullptr;
    platform::Spool* capture = nullptr;
};

// args excludes the command name; input holds the piped or redirected bytes (empty when none).
using BuiltinFn = int (*)(ShellState& state, std::span<const std::string> args,
                          std::string_view input, BuiltinIo& io);

struct Builtin {
    std::string_view name;
    BuiltinFn fn;
    // Runs shell text as part of the command (`source`): the text's commands read the
    // command's input and write to its output and `2>` file, as a function body's do.
    bool runs_text = false;
};

inline constexpr std::size_t kBuiltinCount = 28;

// The 28 builtins in their fixed order: the order of lookup, completion and `help`'s source.
const std::array<Builtin, kBuiltinCount>& builtin_table();

// The builtin of that exact name, or null.
const Builtin* find_builtin(std::string_view name);

}  // namespace kiln
