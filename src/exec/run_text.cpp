// run_text: the one road by which shell text runs, lexed and parsed whole before any of it
// is evaluated. `$(...)` (from expansion) and `source` (a builtin) come back here.
#include <new>
#include <optional>

#include "exec/exec.hpp"
#include "parser/parser.hpp"

namespace kiln {
namespace {

constexpr std::string_view kNotRun = "out of memory: the text was not run";

// The tree of a text too large for the memory left ends the text as a command would end.
std::optional<Result<Tree, std::string>> parse_within_memory(ShellState& state,
                                                             std::string_view text) {
    try {
        return parse_text(text);
    } catch (const std::bad_alloc&) {
        out_of_memory(state, kNotRun);
        return std::nullopt;
    }
}

int run_parsed(ShellState& state, const Result<Tree, std::string>& tree, InputData input,
               Capture capture, SyntaxErrors errors) {
    if (tree) return evaluate(state, *tree, std::move(input), capture);
    if (errors == SyntaxErrors::MessageOnly) {
        report(state, tree.error());
        return state.last_status;
    }
    report(state, "syntax error: " + tree.error());
    state.last_status = 2;
    return 2;
}

}  // namespace

int run_text(ShellState& state, std::string_view text, InputData input, Capture capture,
             SyntaxErrors errors) {
    auto parsed = parse_within_memory(state, text);
    if (!parsed) return 1;
    return run_parsed(state, *parsed, std::move(input), capture, errors);
}

int run_substitution(ShellState& state, const CommandCell& cell, std::string_view text,
                     Capture capture) {
    const Result<Tree, std::string>* parsed = nullptr;
    try {
        parsed = &parse_command_text(cell, text);
    } catch (const std::bad_alloc&) {
        out_of_memory(state, kNotRun);
        return 1;
    }
    return run_parsed(state, *parsed, std::nullopt, capture, SyntaxErrors::MessageOnly);
}

int run_source(ShellState& state, std::string_view text) {
    return run_text(state, text, std::nullopt, nullptr, SyntaxErrors::SetStatus);
}

}  // namespace kiln
