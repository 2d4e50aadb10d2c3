// run_source: the one road by which shell text runs, lexed and parsed whole before any of it
// is evaluated.
#include "exec/exec.hpp"
#include "main/shell.hpp"
#include "parser/parser.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

int report_syntax_error(ShellState& state, const std::string& message) {
    platform::write_stderr("kiln: syntax error: " + message + "\n");
    state.last_status = 2;
    return 2;
}

}  // namespace

int run_source(ShellState& state, std::string_view text) {
    auto tree = parse_text(text);
    if (!tree) return report_syntax_error(state, tree.error());
    return evaluate(state, *tree, std::nullopt, nullptr);
}

}  // namespace kiln
