// External programs: starting a child with its standard handles, feeding its input and
// collecting its output.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "exec/redirect.hpp"

namespace kiln {

struct ProgramCall {
    std::vector<std::string> argv;                         // argv[0] is the name as typed
    std::vector<std::pair<std::string, std::string>> env;  // prefix assignments
    InputData input;  // piped bytes; absent when the plan has a `<` file
    Capture capture = nullptr;
};

// Runs the program to completion and returns its status (127 not found, 126 not startable,
// 1 when a redirection file cannot be opened).
int run_program(ShellState& state, ProgramCall call, const RedirectPlan& plan);

// The input worker's body: writes every byte into the child's standard input, then closes it.
// Write errors (a child that exits without reading) are ignored.
void feed_stdin(platform::Spool bytes, platform::Handle pipe);

}  // namespace kiln
