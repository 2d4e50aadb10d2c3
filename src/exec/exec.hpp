// Execution: the evaluator, command dispatch, pipelines and redirections.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "exec/state.hpp"
#include "parser/node.hpp"
#include "platform/platform.hpp"

namespace kiln {

// Bytes given to a command as its standard input; absent: the shell's own standard input.
using InputData = std::optional<platform::Spool>;
// Where a command's standard output is appended; null: the shell's own standard output.
using Capture = platform::Spool*;

// Deeper evaluation than this (runaway recursion) is stopped with a message.
inline constexpr int kMaxEvalDepth = 1000;

// Runs a tree against the state and returns its status.
int evaluate(ShellState& state, const Node& node, InputData input, Capture capture);
// The same for a whole parsed tree, whose memory the functions it defines go on sharing.
int evaluate(ShellState& state, const Tree& tree, InputData input, Capture capture);
// Runs the body of a function, which shares the memory of the tree it was defined in.
int evaluate(ShellState& state, const std::shared_ptr<const Node>& body, InputData input,
             Capture capture);

// Runs one simple command; stores the status in last_status.
int run_simple(ShellState& state, const Simple& cmd, InputData input, Capture capture);

}  // namespace kiln
