// STUB: replaced by the interactive loop.
#include "main/shell.hpp"
namespace kiln {
void run_startup_file(ShellState&) {}
int interactive_loop(ShellState& state) { return state.last_status; }
}  // namespace kiln
