// run_simple: one simple command, from its words to a status. Lookup order: alias, function,
// builtin, external program.
#include <optional>
#include <span>

#include "builtins/builtins.hpp"
#include "common/text.hpp"
#include "exec/exec.hpp"
#include "exec/program.hpp"
#include "exec/redirect.hpp"
#include "expand/expand.hpp"

namespace kiln {
namespace {

std::vector<std::string> expand_words(ShellState& state, const WordList& words) {
    std::vector<std::string> argv;
    argv.reserve(words.size());
    for (const Word& w : words)
        expand_word_into(state, w, argv);
    return argv;
}

// Splits alias text at runs of Unicode white space.
std::vector<std::string> split_alias(std::string_view text) {
    std::vector<std::string> words;
    std::string current;
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decode_utf8(text, pos);
        if (is_unicode_space(d.cp)) {
            if (!current.empty()) words.push_back(std::move(current));
            current.clear();
        } else {
            current.append(text.substr(pos, d.len));
        }
        pos += d.len;
    }
    if (!current.empty()) words.push_back(std::move(current));
    return words;
}

// One level of alias expansion; an alias whose first word is its own name changes nothing.
void apply_alias(const ShellState& state, std::vector<std::string>& argv) {
    const auto it = state.aliases.find(argv[0]);
    if (it == state.aliases.end()) return;
    std::vector<std::string> words = split_alias(it->second);
    if (words.empty() || words[0] == argv[0]) return;
    words.insert(words.end(), std::make_move_iterator(argv.begin() + 1),
                 std::make_move_iterator(argv.end()));
    argv = std::move(words);
}

// Sets a variable, reporting an environment refusal; false when it was refused.
bool assign(ShellState& state, std::string_view name, std::string value) {
    if (auto r = set_var(state, name, std::move(value), false); !r) {
        report(state, std::string(name) + ": " + r.error());
        return false;
    }
    return true;
}

// What a command name runs: a function, else a builtin, else (neither) a program. The
// function is the call's own copy of its tree, so that a redefinition while it runs does not
// affect it.
struct Target {
    std::optional<Tree> function;
    const Builtin* builtin = nullptr;
    bool runs_program() const { return !function && !builtin; }
};

Target find_target(const ShellState& state, const std::string& name) {
    if (!state.functions.empty()) {  // most scripts define none: skip hashing the name
        if (const auto it = state.functions.find(name); it != state.functions.end()) {
            return {it->second, nullptr};
        }
    }
    return {std::nullopt, find_builtin(name)};
}

int store(ShellState& state, int status) {
    state.last_status = status;
    return status;
}

// The status is that of the last command substitution in the command, so that
// `x=$(cmd) || handle` sees cmd fail; 0 when it ran none.
int run_assignments(ShellState& state, const Items<Assignment>& assigns,
                    std::uint64_t substitutions_before) {
    bool ok = true;
    for (const Assignment& a : assigns) {
        std::string value = expand_word_single(state, a.value);
        // A command substitution that hit Ctrl-C or a bound leaves the variable as it was.
        if (notice_interrupt(state) || should_unwind(state)) return state.last_status;
        ok &= assign(state, a.name, std::move(value));
    }
    if (!ok) return store(state, 1);
    return store(state, state.substitutions != substitutions_before ? state.last_status : 0);
}

// Prefix assignments live for the duration of a builtin or function call: set on
// construction, undone in reverse order on destruction.
class PrefixScope {
public:
    PrefixScope(ShellState& state, const Items<Assignment>& assigns) : state_(state) {
        for (const Assignment& a : assigns) {
            std::string value = expand_word_single(state, a.value);
            saved_.emplace_back(a.name, get_var(state, a.name));
            assign(state, a.name, std::move(value));
        }
    }
    PrefixScope(const PrefixScope&) = delete;
    PrefixScope& operator=(const PrefixScope&) = delete;
    ~PrefixScope() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                assign(state_, it->first, std::move(*it->second));
            } else {
                (void)unset_var(state_, it->first);
            }
        }
    }

private:
    ShellState& state_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The body's standard error while a function called with `2>` runs: the file, opened once.
class StderrScope {
public:
    StderrScope(ShellState& state, const std::optional<std::string>& path)
        : state_(state), saved_(state.stderr_sink) {
        if (!path) return;
        auto opened = open_for_output(*path, false);
        if (!opened) {
            report(state, *path + ": " + platform::describe(opened.error()));
            return;
        }
        file_ = std::move(*opened);
        state.stderr_sink = &file_;
    }
    StderrScope(const StderrScope&) = delete;
    StderrScope& operator=(const StderrScope&) = delete;
    ~StderrScope() { state_.stderr_sink = saved_; }

private:
    ShellState& state_;
    const platform::Handle* saved_;
    platform::Handle file_;
};

int call_function(ShellState& state, const Simple& cmd, const Tree& body,
                  std::vector<std::string> argv, RedirectPlan plan, InputData input,
                  Capture capture) {
    PrefixScope prefixes(state, cmd.assigns);
    StderrScope errors(state, plan.err);
    std::vector<std::string> saved = std::move(state.positional);
    state.positional.assign(std::make_move_iterator(argv.begin() + 1),
                            std::make_move_iterator(argv.end()));
    int status = 0;
    bool delivered = true;
    if (plan.out) {
        platform::Spool out;
        status = evaluate(state, body, std::move(input), &out);
        delivered = deliver_output(state, argv[0], std::move(out), plan.out, nullptr);
    } else {
        status = evaluate(state, body, std::move(input), capture);
    }
    state.positional = std::move(saved);
    status = finish_call(state, status);
    // Output that did not reach its file fails the call, whatever the body's status.
    return delivered ? status : store(state, 1);
}

int call_builtin(ShellState& state, const Simple& cmd, const Builtin& builtin,
                 std::vector<std::string> argv, const RedirectPlan& plan, InputData input,
                 Capture capture) {
    // The command's standard output: what the text of `source` prints while a `>` file waits
    // for it, then what the builtin passed on and wrote.
    platform::Spool out;
    const BuiltinInput in{input ? input->view() : std::string_view(), input ? &input : nullptr};
    BuiltinOutput written;
    std::optional<StderrScope> text_errors;
    if (builtin.runs_text) {
        written.text_output = plan.out ? &out : capture;
        text_errors.emplace(state, plan.err);
    }
    int status = 0;
    {
        PrefixScope prefixes(state, cmd.assigns);
        const std::span<const std::string> args(argv.begin() + 1, argv.end());
        status = builtin.fn(state, args, in, written);
    }
    // The input is no longer needed: it becomes the output when the builtin passed it on, and
    // is freed before the output moves on otherwise.
    auto appended =
        written.passes_input ? out.append(std::move(*input)) : platform::OsResult<void>();
    input.reset();
    if (appended) appended = out.append(std::move(written.text));
    // With text run, the `2>` file is open already and takes the builtin's own errors too.
    const std::optional<std::string> errors_to = text_errors ? std::nullopt : plan.err;
    if (!appended) {
        (void)deliver_errors(state, written.errors, errors_to);
        return out_of_memory(state, argv[0] + ": " + platform::describe(appended.error()));
    }
    // Output or errors that did not reach their file fail the builtin, whatever it returned.
    const bool delivered = deliver_output(state, argv[0], std::move(out), plan.out, capture);
    const bool errors_delivered = deliver_errors(state, written.errors, errors_to);
    return store(state, delivered && errors_delivered ? status : 1);
}

int call_program(ShellState& state, const Simple& cmd, std::vector<std::string> argv,
                 const RedirectPlan& plan, InputData input, Capture capture) {
    ProgramCall call{std::move(argv), {}, std::move(input), capture};
    for (const Assignment& a : cmd.assigns) {
        call.env.emplace_back(a.name, expand_word_single(state, a.value));
    }
    return store(state, run_program(state, std::move(call), plan));
}

}  // namespace

int run_simple(ShellState& state, const Simple& cmd, InputData input, Capture capture) {
    const std::uint64_t substitutions = state.substitutions;
    std::vector<std::string> argv = expand_words(state, cmd.words);
    std::optional<RedirectPlan> plan = plan_redirects(state, cmd.redirects);
    // A command substitution in the words may have hit exit, Ctrl-C, the nesting bound or the
    // memory bound, and Ctrl-C may have cut a pattern's search short; the command itself then
    // does not run.
    notice_interrupt(state);
    if (should_unwind(state)) return state.last_status;
    if (!plan) return store(state, 1);
    if (argv.empty()) return run_assignments(state, cmd.assigns, substitutions);
    apply_alias(state, argv);
    const Target target = find_target(state, argv[0]);
    // A `<` file replaces the piped input: a program reads the file itself, a function or a
    // builtin gets its bytes.
    if (plan->input) {
        input.reset();
        if (!target.runs_program()) {
            input = read_input(state, *plan->input);
            if (!input) return store(state, 1);
            plan->input.reset();  // read whole, it is closed before the command runs
        }
    }
    if (target.function) {
        return call_function(state, cmd, *target.function, std::move(argv), std::move(*plan),
                             std::move(input), capture);
    }
    if (target.builtin) {
        return call_builtin(state, cmd, *target.builtin, std::move(argv), *plan, std::move(input),
                            capture);
    }
    return call_program(state, cmd, std::move(argv), *plan, std::move(input), capture);
}

}  // namespace kiln
