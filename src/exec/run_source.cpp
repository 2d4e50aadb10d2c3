// run_text: the one road by which shell text runs, lexed and parsed whole before any of it
// is evaluated. `$(...)` (from expansion) and `source` (a builtin) come back here.
#include "exec/exec.hpp"
#include "parser/parser.hpp"

namespace kiln {

int run_text(ShellState& state, std::string_view text, InputData input, Capture capture,
             SyntaxErrors errors) {
    auto tree = parse_text(text);
    if (tree) return evaluate(state, *tree, std::move(input), capture);
    if (errors == SyntaxErrors::MessageOnly) {
        report(state, tree.error());
        return state.last_status;
    }
    report(state, "syntax error: " + tree.error());
    state.last_status = 2;
    return 2;
}

int run_source(ShellState& state, std::string_view text) {
    return run_text(state, text, std::nullopt, nullptr, SyntaxErrors::SetStatus);
}

}  // namespace kiln
