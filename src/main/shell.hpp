// The front end: the start-up file and the interactive loop.
#pragma once

#include <string_view>

#include "state/state.hpp"

namespace kiln {

// Runs .kilnrc from the home directory, if there is one, as interactive start-up does.
void run_startup_file(ShellState& state);

// The prompt loop of interactive use; returns the status the process ends with.
int interactive_loop(ShellState& state);

}  // namespace kiln
