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

// A `<` file, open: a program reads it itself, from the file, so that it reads only what it
// needs; a builtin or function gets its bytes (read_input).
struct InputFile {
    std::string path;
    platform::Handle file;
};

// What a simple command's redirections ask for; only `<` files are opened while the plan is
// built.
struct RedirectPlan {
    std::optional<InputFile> input;   // the last `<`
    std::optional<OutputTarget> out;  // the last `>`/`>>` not on descriptor 2
    std::optional<std::string> err;   // the last `2>`/`2>>`, always opened truncating
};

// Expands the targets and opens `<` files. A file that cannot be opened is reported and gives
// absent (the command then fails with status 1).
std::optional<RedirectPlan> plan_redirects(ShellState& state, const Items<Redirect>& list);

// The bytes of the plan's `<` file, for a builtin or function. Absent after reporting a file
// that cannot be read (the command then fails with status 1).
std::optional<platform::Spool> read_input(const ShellState& state, const InputFile& input);

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
