// STUB: replaced by the shell state.
#include "exec/state.hpp"
namespace kiln {
void init_state(ShellState&) {}
std::optional<std::string> get_var(const ShellState&, std::string_view) { return {}; }
Result<void, std::string> set_var(ShellState&, std::string_view, std::string, bool) { return {}; }
Result<void, std::string> unset_var(ShellState&, std::string_view) { return {}; }
bool should_unwind(const ShellState&) { return false; }
}  // namespace kiln
