// The entry points of the individual builtins, shared by the table and the unit tests.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "builtins/builtins.hpp"

namespace kiln {

// control.cpp
int builtin_help(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_exit(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_return(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_break(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_continue(ShellState&, std::span<const std::string>, const BuiltinInput&,
                     BuiltinOutput&);
int builtin_clear(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_history(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_true(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_false(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// fs.cpp
int builtin_cd(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_pwd(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_ls(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// io.cpp
int builtin_echo(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_printf(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_read(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_cat(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// vars.cpp
int builtin_export(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_unset(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_set(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_env(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_alias(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_unalias(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// lookup.cpp: `which` and `type`
int builtin_which(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// source.cpp: `source` and `.`
int builtin_source(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
// condition.cpp: `test` and `[`
int builtin_test(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);
int builtin_bracket(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&);

// The system cannot hold a path with a NUL byte in it: it would silently cut the path short,
// so the file builtins treat such a path as naming nothing.
inline bool has_nul(std::string_view path) {
    return path.find('\0') != std::string_view::npos;
}

}  // namespace kiln
