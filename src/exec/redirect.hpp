// Redirections: reading a command's redirections into a plan, opening output files, and
// delivering a finished command's output buffers.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exec/exec.hpp"
#include "platform/platform.hpp"

namespace kiln {

struct OutputTarget {
    std::string path;
    bool append = false;
};

// What a simple command's redirections ask for; nothing is opened while the plan is built.
struct RedirectPlan {
    InputData input;                  // the bytes of the last `<` file
    std::optional<OutputTarget> out;  // the last `>`/`>>` not on descriptor 2
    std::optional<std::string> err;   // the last `2>`/`2>>`, always opened truncating
};

// Expands the targets and reads `<` files. A file that cannot be read is reported and gives
// absent (the command then fails with status 1).
std::optional<RedirectPlan> plan_redirects(ShellState& state, std::span<const Redirect> list);

platform::OsResult<platform::Handle> open_for_output(const std::string& path, bool append);

// Writes standard output bytes to the target file, else appends them to the capture (taking
// the buffer whole when the capture is empty), else writes them to the shell's output. False
// when the command `name` is to fail: the target file could not be opened or written (that
// is reported), its output passed the memory bound in the capture (reported as
// out_of_memory), or the shell's own output is a pipe whose reader has gone, which ends the
// run with kBrokenPipeStatus as a pending exit.
bool deliver_output(ShellState& state, std::string_view name, platform::Spool bytes,
                    const std::optional<OutputTarget>& target, Capture capture);

// Writes a builtin's error bytes to the `2>` file (opened only when there are bytes), else to
// the current standard error. False, reported, when the file could not be opened or written.
bool deliver_errors(const ShellState& state, std::string_view bytes,
                    const std::optional<std::string>& path);

}  // namespace kiln
