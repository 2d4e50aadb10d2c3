// The built-in commands: one signature, one table.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "exec/state.hpp"

namespace kiln {

// What a builtin writes; run_simple delivers both buffers after the builtin returns.
struct BuiltinIo {
    std::string out;
    std::string err;
    // The buffer that `input` views when nothing else needs it after the builtin (piped or
    // redirected bytes): a builtin that passes its input on unchanged may take it whole
    // instead of copying it. Null when there is no such buffer.
    std::string* input_buffer = nullptr;
};

// args excludes the command name; input holds the piped or redirected bytes (empty when none).
using BuiltinFn = int (*)(ShellState& state, std::span<const std::string> args,
                          std::string_view input, BuiltinIo& io);

struct Builtin {
    std::string_view name;
    BuiltinFn fn;
};

inline constexpr std::size_t kBuiltinCount = 28;

// The 28 builtins in their fixed order: the order of lookup, completion and `help`'s source.
const std::array<Builtin, kBuiltinCount>& builtin_table();

// The builtin of that exact name, or null.
const Builtin* find_builtin(std::string_view name);

}  // namespace kiln
