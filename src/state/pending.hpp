// The pending request: what makes the running text stop early, and the one rule by which
// each of its consumers takes it. `exit`, `return`, `break` and `continue` do not jump: the
// builtin records a request, every evaluate returns at once while one is pending, and the
// consumer it is meant for takes it off:
//   a loop          takes a break or a continue (leave_loop_body)
//   a function call takes a return (finish_call)
//   the outermost   takes an overflow after each of its commands (settle_outermost)
//   list of a text
//   a typed line    takes everything but an exit (finish_typed_line)
//   the start-up    takes a Ctrl-C (finish_startup_file)
//   file
// A sourced file takes nothing: a return or break in it that no function or loop of its own
// takes unwinds its caller too. Nothing takes an exit: the front end ends the process.
#pragma once

#include <cstdint>

namespace kiln {

struct ShellState;

// In order of strength: a stronger request replaces a weaker one, never the reverse.
enum class Request : std::uint8_t {
    None,
    Break,      // leave `count` loops
    Continue,   // leave count - 1 loops, then the next pass of the one after them
    Return,     // leave the running function with `status`
    Overflow,   // the nesting bound or the memory bound: leave to the outermost list
    Interrupt,  // Ctrl-C: leave everything up to the prompt
    Exit,       // end the shell with `status`
};

struct Pending {
    Request request = Request::None;
    std::uint32_t count = 0;  // loops, for Break and Continue
    std::int32_t status = 0;  // for Return and Exit
};

// Records a request unless a stronger one is pending already.
void request(ShellState& state, Pending pending);

// `break n` or `continue n` (n at least 1): a count larger than the loops that are running
// applies to the outermost of them. Outside any loop the request unwinds everything.
void request_loops(ShellState& state, Request request, std::uint32_t count);

// Counts a running loop for as long as the scope lasts, so that break and continue know how
// many loops there are to leave.
class LoopScope {
public:
    explicit LoopScope(ShellState& state);
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;
    ~LoopScope();

private:
    ShellState& state_;
};

enum class LoopStep { Next, Leave };

// After a loop's condition or body: a break leaves this loop and one unit less is pending; a
// continue with its last unit resumes this loop, one with more units leaves it; any other
// request leaves it untouched.
LoopStep leave_loop_body(ShellState& state);

// After a function body: a pending return ends here, its status the call's (and $?).
int finish_call(ShellState& state, int status);

// After each command of the outermost list of a text: an overflow ends only the command
// that caused it (its message was given, its status is failing), and the next one runs.
// A Ctrl-C stays pending; either way the status is the one the failing command left.
int settle_outermost(ShellState& state, int status);

// After a typed line: takes every request but an exit, so that nothing else reaches the next
// line, and returns the request that was pending.
Request finish_typed_line(ShellState& state);

// After the start-up file: a Ctrl-C abandons the file, and does not swallow the first typed
// line. Any other request stays, as if it were pending in the first line.
void finish_startup_file(ShellState& state);

// The status the process ends with: an exit's own, else the status of the run.
int final_status(const ShellState& state, int status);

}  // namespace kiln
