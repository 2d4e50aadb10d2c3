// External programs: the order of events on the shell's side of a child process.
#include "exec/program.hpp"

#include <system_error>
#include <thread>

namespace kiln {
namespace {

// The shell's ends of a child's streams and the files opened for it; all are closed when the
// command ends.
struct ChildStreams {
    std::optional<platform::Handle> out_file;
    std::optional<platform::Handle> err_file;
    std::optional<platform::PipeEnds> in_pipe;
    std::optional<platform::PipeEnds> out_pipe;
    const platform::Handle* in_file = nullptr;  // the plan's `<` file, read by the program
};

// A program that writes to its own `<` file (`sort < f > f`) gets the file's bytes, read
// before the output file is truncated or appended to, as a builtin gets them: reading the
// file itself it would find it empty, or read what it has just written.
bool writes_own_input(const RedirectPlan& plan) {
    const platform::Handle& in = plan.input->file;
    return (plan.out && platform::is_same_file(in, plan.out->path)) ||
           (plan.err && platform::is_same_file(in, *plan.err));
}

// The program's standard input: its `<` file, else the piped bytes in `call`. False after
// reporting a `<` file that could not be read.
bool take_input(const ShellState& state, ProgramCall& call, const RedirectPlan& plan,
                ChildStreams& streams) {
    if (!plan.input) return true;
    if (!writes_own_input(plan)) {
        streams.in_file = &plan.input->file;
        return true;
    }
    call.input = read_input(state, *plan.input);
    return call.input.has_value();
}

// Opens the redirection files, standard output first; false after reporting a failure.
bool open_files(const ShellState& state, const RedirectPlan& plan, ChildStreams& streams) {
    if (plan.out) {
        auto file = open_for_output(plan.out->path, plan.out->append);
        if (!file) {
            report(state, plan.out->path + ": " + platform::describe(file.error()));
            return false;
        }
        streams.out_file = std::move(*file);
    }
    if (plan.err) {
        auto file = open_for_output(*plan.err, false);
        if (!file) {
            report(state, *plan.err + ": " + platform::describe(file.error()));
            return false;
        }
        streams.err_file = std::move(*file);
    }
    return true;
}

bool make_pipe(const ShellState& state, const std::string& name,
               std::optional<platform::PipeEnds>& slot) {
    auto pipe = platform::make_pipe();
    if (!pipe) {
        report(state, name + ": " + platform::describe(pipe.error()));
        return false;
    }
    slot = std::move(*pipe);
    return true;
}

platform::SpawnRequest spawn_request(const ShellState& state, ProgramCall& call,
                                     const ChildStreams& streams) {
    platform::SpawnRequest request;
    request.program = call.argv[0];
    request.args.assign(std::make_move_iterator(call.argv.begin() + 1),
                        std::make_move_iterator(call.argv.end()));
    request.cwd = state.cwd;
    request.env_overrides = std::move(call.env);
    if (streams.in_file != nullptr) {
        request.in = streams.in_file;
    } else if (streams.in_pipe) {
        request.in = &streams.in_pipe->read;
    }
    if (streams.out_file) {
        request.out = &*streams.out_file;
    } else if (streams.out_pipe) {
        request.out = &streams.out_pipe->write;
    }
    request.err = streams.err_file ? &*streams.err_file : state.stderr_sink;
    return request;
}

// Starts the input worker; when the system cannot make a thread, the child gets end of input.
bool start_feeder(const ShellState& state, const std::string& name, platform::Spool bytes,
                  platform::Handle pipe, std::thread& worker) {
    try {
        worker = std::thread(feed_stdin, std::move(bytes), std::move(pipe));
        return true;
    } catch (const std::system_error& e) {
        report(state, name + ": cannot start input thread: " + e.what());
        return false;
    }
}

}  // namespace

void feed_stdin(platform::Spool bytes, platform::Handle pipe) {
    (void)platform::write_all(pipe, std::move(bytes));
    pipe.close();
}

int run_program(ShellState& state, ProgramCall call, const RedirectPlan& plan) {
    const std::string name = call.argv[0];
    ChildStreams streams;
    if (!take_input(state, call, plan, streams) || !open_files(state, plan, streams)) return 1;
    if (call.input && !make_pipe(state, name, streams.in_pipe)) return 1;
    if (call.capture != nullptr && !plan.out && !make_pipe(state, name, streams.out_pipe)) return 1;

    auto child = platform::spawn(spawn_request(state, call, streams));
    if (!child) {
        const auto& error = child.error();
        report(state, name + ": " + (error.not_found ? "command not found" : error.text));
        return error.not_found ? 127 : 126;
    }
    // Only the child keeps its ends, so that end of file arrives when either side is done.
    if (streams.in_pipe) streams.in_pipe->read.close();
    if (streams.out_pipe) streams.out_pipe->write.close();

    std::thread worker;
    bool fed = true;
    if (streams.in_pipe) {
        fed = start_feeder(state, name, std::move(*call.input), std::move(streams.in_pipe->write),
                           worker);
        call.input.reset();
    }
    // Reading straight into the capture: read_all appends, and the bytes read before an error
    // stay there. Whatever ended the reading, the pipe is closed before the wait, so that a
    // child still writing sees a broken pipe instead of waiting for a reader forever.
    platform::OsResult<void> read;
    if (streams.out_pipe) {
        read = platform::read_all(streams.out_pipe->read, *call.capture);
        streams.out_pipe->read.close();
    }
    auto status = platform::wait_child(*child);
    if (worker.joinable()) worker.join();
    if (!read && read.error().code == platform::kTooLarge) {
        *call.capture = platform::Spool();  // the rest of the pipeline does not run
        return out_of_memory(state, name + ": " + platform::describe(read.error()));
    }
    if (!fed) return 1;
    return status ? *status : 1;
}

}  // namespace kiln
