// The builtins that steer the shell itself: help, exit, return, break, continue, clear,
// history, true and false. They only record requests; the evaluator does the unwinding.
#include <algorithm>
#include <vector>

#include "builtins/commands.hpp"
#include "common/text.hpp"

namespace kiln {
namespace {

constexpr std::size_t kHelpGroup = 8;

// The code of `exit`/`return`: the first argument as a signed 32-bit number, else $?.
std::int32_t status_argument(const ShellState& state, std::span<const std::string> args) {
    if (args.empty()) return state.last_status;
    return parse_int32(args[0]).value_or(state.last_status);
}

// The count of `break`/`continue`: at least 1; anything that does not parse counts as 1.
std::uint32_t loop_count(std::span<const std::string> args) {
    if (args.empty()) return 1;
    return std::max<std::uint32_t>(parse_uint32(args[0]).value_or(1), 1);
}

}  // namespace

int builtin_help(ShellState&, std::span<const std::string>, const BuiltinInput&,
                 BuiltinOutput& out) {
    std::vector<std::string_view> names;
    for (const Builtin& b : builtin_table())
        names.push_back(b.name);
    std::stable_sort(names.begin(), names.end());
    out.text += "kiln \u2014 Kestrel Shell (built-ins):\n";
    for (std::size_t i = 0; i < names.size(); i += kHelpGroup) {
        for (std::size_t j = i; j < std::min(i + kHelpGroup, names.size()); ++j) {
            out.text += "  ";  // two spaces open the line and separate the names
            out.text += names[j];
        }
        out.text += '\n';
    }
    return 0;
}

int builtin_exit(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                 BuiltinOutput&) {
    const std::int32_t code = status_argument(state, args);
    request(state, {Request::Exit, 0, code});
    return code;
}

int builtin_return(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                   BuiltinOutput&) {
    const std::int32_t status = status_argument(state, args);
    request(state, {Request::Return, 0, status});
    return status;
}

int builtin_break(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                  BuiltinOutput&) {
    request_loops(state, Request::Break, loop_count(args));
    return 0;
}

int builtin_continue(ShellState& state, std::span<const std::string> args, const BuiltinInput&,
                     BuiltinOutput&) {
    request_loops(state, Request::Continue, loop_count(args));
    return 0;
}

int builtin_clear(ShellState&, std::span<const std::string>, const BuiltinInput&,
                  BuiltinOutput& out) {
    out.text += "\x1b[2J\x1b[H";  // erase the screen, then cursor to the top-left corner
    return 0;
}

// The history lives in the line editor; this name exists so that scripts using it do not fail.
int builtin_history(ShellState&, std::span<const std::string>, const BuiltinInput&,
                    BuiltinOutput&) {
    return 0;
}

int builtin_true(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&) {
    return 0;
}

int builtin_false(ShellState&, std::span<const std::string>, const BuiltinInput&, BuiltinOutput&) {
    return 1;
}

}  // namespace kiln
