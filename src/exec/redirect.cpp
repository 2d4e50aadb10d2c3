// Redirection plans, output files and the delivery of command output.
#include "exec/redirect.hpp"

#include "expand/expand.hpp"

namespace kiln {

std::optional<RedirectPlan> plan_redirects(ShellState& state, const Items<Redirect>& list) {
    RedirectPlan plan;
    for (const Redirect& r : list) {
        std::string target = expand_word_single(state, r.target);
        // The system would cut the name short at the NUL and use another file.
        if (target.find('\0') != std::string::npos) {
            report(state, target + ": file name contains a NUL byte");
            return std::nullopt;
        }
        if (r.op == RedirOp::In) {
            auto file = platform::open_for_read(target);
            if (!file) {
                report(state, target + ": " + platform::describe(file.error()));
                return std::nullopt;
            }
            plan.input = InputFile{std::move(target), std::move(*file)};
        } else if (r.fd == 2u) {
            plan.err = std::move(target);
        } else {
            plan.out = OutputTarget{std::move(target), r.op == RedirOp::Append};
        }
    }
    return plan;
}

std::optional<platform::Spool> read_input(const ShellState& state, const InputFile& input) {
    auto bytes = platform::read_file(input.file);
    if (!bytes) {
        report(state, input.path + ": " + platform::describe(bytes.error()));
        return std::nullopt;
    }
    return platform::Spool(std::move(*bytes));
}

platform::OsResult<platform::Handle> open_for_output(const std::string& path, bool append) {
    return platform::open_for_write(path, append);
}

namespace {

// Reports a file that could not be opened or written as "kiln: {path}: {error}"; false then.
bool reported(const ShellState& state, const std::string& path,
              const platform::OsResult<void>& result) {
    if (!result) report(state, path + ": " + platform::describe(result.error()));
    return result.has_value();
}

}  // namespace

bool deliver_output(ShellState& state, std::string_view name, platform::Spool bytes,
                    const std::optional<OutputTarget>& target, Capture capture) {
    if (target) {
        auto file = open_for_output(target->path, target->append);
        if (!file) return reported(state, target->path, fail(std::move(file).error()));
        return reported(state, target->path, platform::write_all(*file, std::move(bytes)));
    }
    if (capture != nullptr) {
        // Pipelines hand whole outputs along; an empty capture takes the buffer without a copy.
        if (auto appended = capture->append(std::move(bytes)); !appended) {
            *capture = platform::Spool();  // the rest of the pipeline does not run
            out_of_memory(state, std::string(name) + ": " + platform::describe(appended.error()));
            return false;
        }
    } else if (!bytes.empty() && !platform::write_stdout(bytes.view())) {
        // As a program killed by the broken pipe: the run ends, unwinding like an exit.
        request(state, {Request::Exit, 0, platform::kBrokenPipeStatus});
        return false;
    }
    return true;
}

bool deliver_errors(const ShellState& state, std::string_view bytes,
                    const std::optional<std::string>& path) {
    if (bytes.empty()) return true;
    if (!path) {
        write_error_output(state, bytes);
        return true;
    }
    auto file = open_for_output(*path, false);
    if (!file) return reported(state, *path, fail(std::move(file).error()));
    return reported(state, *path, platform::write_all(*file, bytes));
}

}  // namespace kiln
