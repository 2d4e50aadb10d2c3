// The front end: running shell text, and the interactive loop.
#pragma once

#include <string_view>

#include "exec/state.hpp"

namespace kiln {

// Lexes, parses and evaluates `text` with the shell's own streams. A lexical or syntax error
// prints "kiln: syntax error: {message}", sets last_status to 2 and runs nothing.
int run_source(ShellState& state, std::string_view text);

// Runs .kilnrc from the home directory, if there is one, as interactive start-up does.
void run_startup_file(ShellState& state);

// The prompt loop of interactive use; returns the status the process ends with.
int interactive_loop(ShellState& state);

}  // namespace kiln
