// run_text: the one road by which shell text runs, lexed and parsed whole before any of it
// is evaluated. `$(...)` (from expansion) and `source` (a builtin) come back here.
#include <new>
#include <optional>

#include "exec/exec.hpp"
#include "parser/parser.hpp"

namespace kiln {
namespace {

// The tree of a text too large for the memory left ends the text as a command would end.
std::optional<Result<Tree, std::string>> parse_within_memory(ShellState& state,
                                                             std::string_view text) {
    try {
        return parse_text(text);
    } catch (const std::bad_alloc&) {
        out_of_memory(state, "out of memory: the text was not run");
        return std::nullopt;
    }
}

}  // namespace

int run_text(ShellState& state, std::string_view text, InputData input, Capture capture,
             SyntaxErrors errors) {
    auto parsed = parse_within_memory(state, text);
    if (!parsed) return 1;
    auto& tree = *parsed;
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
