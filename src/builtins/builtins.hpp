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

// What a builtin reads: the bytes piped or redirected into the command (empty when none).
// When the command was given such bytes, `data` is the buffer that holds them, which nothing
// needs after the builtin: a builtin that runs shell text hands it to that text.
struct BuiltinInput {
    std::string_view bytes;
    std::optional<platform::Spool>* data = nullptr;
};

// What a builtin writes. run_simple delivers it after the builtin returns: the input data
// when `passes_input` is set, then `text`, to the command's standard output, and `errors` to
// its standard error.
struct BuiltinOutput {
    // The input data, unchanged, comes first: it is passed on whole instead of being copied,
    // so that a pipeline holds each stage's bytes once. Only with input data (`in.data`).
    bool passes_input = false;
    std::string text;
    std::string errors;
    // Where shell text that the builtin runs (Builtin::runs_text) prints, so that it prints
    // where the command itself would: a capture, or null for the shell's standard output.
    platform::Spool* text_output = nullptr;
};

// args excludes the command name.
using BuiltinFn = int (*)(ShellState& state, std::span<const std::string> args,
                          const BuiltinInput& in, BuiltinOutput& out);

struct Builtin {
    std::string_view name;
    BuiltinFn fn;
    // Runs shell text as part of the command (`source`): the text's commands read the
    // command's input data and write to its output and `2>` file, as a function body's do.
    bool runs_text = false;
};

inline constexpr std::size_t kBuiltinCount = 28;

// The 28 builtins in their fixed order: the order of lookup, completion and `help`'s source.
const std::array<Builtin, kBuiltinCount>& builtin_table();

// The builtin of that exact name, or null.
const Builtin* find_builtin(std::string_view name);

}  // namespace kiln
