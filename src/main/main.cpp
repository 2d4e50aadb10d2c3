// The process entry: chooses the mode from the arguments and ends with the shell's status.
#include <string>

#include "common/text.hpp"
#include "exec/exec.hpp"
#include "main/shell.hpp"
#include "platform/platform.hpp"
#include "state/state.hpp"

namespace {

using namespace kiln;

// Script mode: the whole file runs as one text; an unreadable file ends the shell with 127.
int run_script(ShellState& state, const std::string& path) {
    auto text = platform::read_file(path);
    std::string error;
    if (!text) {
        error = platform::describe(text.error());
    } else if (!is_valid_utf8(*text)) {
        error = "stream did not contain valid UTF-8";
    } else {
        return run_source(state, *text);
    }
    platform::write_stderr("kiln: " + path + ": " + error + "\n");
    request(state, {Request::Exit, 0, 127});
    return 127;
}

}  // namespace

int main(int argc, char** argv) {
    platform::init(argc, argv);
    ShellState state;
    init_state(state);

    const auto& args = platform::arguments();
    const bool interactive = args.size() < 2 || (args[1] != "-c" && args[1].starts_with('-'));
    int status = 0;
    if (interactive) {
        run_startup_file(state);
        platform::exit_process(interactive_loop(state));
    } else if (args[1] == "-c") {
        if (args.size() > 3) state.positional.assign(args.begin() + 3, args.end());
        status = run_source(state, args.size() > 2 ? args[2] : std::string());
    } else {
        state.shell_name = args[1];
        state.positional.assign(args.begin() + 2, args.end());
        status = run_script(state, args[1]);
    }
    platform::exit_process(final_status(state, status));
}
