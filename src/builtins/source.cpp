// `source` and `.`: run a file's commands in the current shell.
#include "builtins/commands.hpp"
#include "common/text.hpp"
#include "exec/exec.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// The file's text, or a description of why it cannot be run. A file past the memory bound
// ends the command as out_of_memory.
Result<std::string, std::string> read_script(ShellState& state, const std::string& file) {
    if (has_nul(file)) return fail(std::string("file name contains a NUL byte"));
    auto text = platform::read_file(file);
    if (!text && text.error().code == platform::kTooLarge) {
        out_of_memory(state, file + ": " + platform::describe(text.error()));
    }
    if (!text) return fail(platform::describe(text.error()));
    if (!is_valid_utf8(*text)) return fail(std::string("stream did not contain valid UTF-8"));
    return std::move(*text);
}

}  // namespace

int builtin_source(ShellState& state, std::span<const std::string> args, const BuiltinInput& in,
                   BuiltinOutput& out) {
    if (args.empty()) {
        out.errors += "source: filename argument required\n";
        return 2;
    }
    const std::string& file = args[0];  // further arguments are ignored
    auto text = read_script(state, file);
    if (state.pending.request == Request::Overflow) return 1;
    if (!text) {
        out.errors += "source: " + file + ": " + text.error() + "\n";
        return 1;
    }
    // The file's commands take the command's input and print where the command prints, each
    // through its own command frame, not through `out`.
    InputData input = in.data != nullptr ? std::move(*in.data) : std::nullopt;
    return run_text(state, *text, std::move(input), out.text_output, SyntaxErrors::SetStatus);
}

}  // namespace kiln
