// Execution: the evaluator, command dispatch, pipelines and redirections.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "parser/node.hpp"
#include "platform/platform.hpp"
#include "state/state.hpp"

namespace kiln {

// Bytes given to a command as its standard input; absent: the shell's own standard input.
using InputData = std::optional<platform::Spool>;
// Where a command's standard output is appended; null: the shell's own standard output.
using Capture = platform::Spool*;

// Deeper evaluation than this (runaway recursion) is stopped with a message.
inline constexpr int kMaxEvalDepth = 1000;

// Runs a tree against the state and returns its status: a whole parsed text, or the body of
// a function, which shares the memory of the tree it was defined in. The functions a tree
// defines go on sharing its memory.
int evaluate(ShellState& state, const Tree& tree, InputData input, Capture capture);

// How a text that does not parse is reported. Typed lines, scripts, -c texts and sourced
// files say "kiln: syntax error: {message}" and set the status to 2; a command substitution
// says "kiln: {message}" and leaves the status alone, so that its word expands to nothing.
enum class SyntaxErrors { SetStatus, MessageOnly };

// The one road by which shell text runs: lexed and parsed whole, then evaluated with the
// given input and capture. A text that does not parse runs none of its commands.
int run_text(ShellState& state, std::string_view text, InputData input, Capture capture,
             SyntaxErrors errors);
// run_text for the text of a command substitution, with no input, reporting syntax errors
// as messages only; the text is parsed at its first run and its tree kept in `cell`.
int run_substitution(ShellState& state, const CommandCell& cell, std::string_view text,
                     Capture capture);
// run_text with the shell's own streams, for typed lines, scripts and -c texts.
int run_source(ShellState& state, std::string_view text);

// Runs one simple command; stores the status in last_status.
int run_simple(ShellState& state, const Simple& cmd, InputData input, Capture capture);

}  // namespace kiln
