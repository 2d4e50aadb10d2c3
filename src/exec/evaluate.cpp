// The evaluator: one visit per node kind, with the unwinding of exit, return, break,
// continue, Ctrl-C, runaway nesting and memory shortage.
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "exec/exec.hpp"
#include "exec/redirect.hpp"
#include "expand/expand.hpp"
#include "expand/pattern.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// Requests that end a loop outright; break and continue are counted down by the loop itself.
bool leaves_loops(const ShellState& state) {
    return state.exit_pending || state.return_pending || state.interrupted ||
           state.nesting_exceeded || state.out_of_memory;
}

enum class LoopStep { Next, Leave };

// After a loop body: leave for exit, return, Ctrl-C or a break; a continue that reaches
// this loop with its last unit resumes it, one with more units leaves it like a break.
LoopStep after_body(ShellState& state) {
    if (leaves_loops(state)) return LoopStep::Leave;
    if (state.break_count > 0) {
        --state.break_count;
        return LoopStep::Leave;
    }
    if (state.continue_count > 0) {
        --state.continue_count;
        return state.continue_count > 0 ? LoopStep::Leave : LoopStep::Next;
    }
    return LoopStep::Next;
}

int eval_node(ShellState&, const Empty&, InputData, Capture) {
    return 0;
}

int eval_node(ShellState& state, const Simple& node, InputData input, Capture capture) {
    return run_simple(state, node, std::move(input), capture);
}

// Stages run one after another; each one's whole output becomes the next one's input.
int eval_node(ShellState& state, const Pipeline& node, InputData input, Capture capture) {
    for (std::size_t i = 0; i + 1 < node.stages.size(); ++i) {
        platform::Spool out;
        evaluate(state, node.stages[i], std::move(input), &out);
        if (should_unwind(state)) return 0;
        input = std::move(out);
    }
    return evaluate(state, node.stages.back(), std::move(input), capture);
}

int eval_node(ShellState& state, const AndOr& node, InputData input, Capture capture) {
    const int left = evaluate(state, *node.left, std::move(input), capture);
    if (should_unwind(state)) return left;
    if (node.is_or) return left == 0 ? 0 : evaluate(state, *node.right, std::nullopt, capture);
    if (left == 0) return evaluate(state, *node.right, std::nullopt, capture);
    state.last_status = left;
    return left;
}

int eval_node(ShellState& state, const Sequence& node, InputData, Capture capture) {
    // In the outermost list of a text, an overflow or a memory shortage ends only the command
    // that caused it: the message has been given, the status is failing, and the next command
    // runs.
    const bool outermost = state.depth == 1;
    int status = 0;
    for (const Node& item : node.items) {
        status = evaluate(state, item, std::nullopt, capture);
        if (outermost && (state.nesting_exceeded || state.out_of_memory)) {
            state.nesting_exceeded = state.out_of_memory = false;
            status = state.last_status;
        }
        if (should_unwind(state)) break;
    }
    return status;
}

// Only the working directory is restored; every other change made inside stays.
int eval_node(ShellState& state, const Subshell& node, InputData input, Capture capture) {
    const std::string saved_cwd = state.cwd;
    auto process_cwd = platform::current_dir();
    const int status = evaluate(state, *node.body, std::move(input), capture);
    state.cwd = saved_cwd;
    if (process_cwd) (void)platform::set_current_dir(*process_cwd);
    return status;
}

int eval_node(ShellState& state, const Group& node, InputData input, Capture capture) {
    return evaluate(state, *node.body, std::move(input), capture);
}

int eval_node(ShellState& state, const If& node, InputData input, Capture capture) {
    int status = evaluate(state, *node.cond, std::move(input), capture);
    if (should_unwind(state)) return status;
    if (status == 0) return evaluate(state, *node.then_body, std::nullopt, capture);
    for (const ElifClause& elif : node.elifs) {
        status = evaluate(state, *elif.cond, std::nullopt, capture);
        if (should_unwind(state)) return status;
        if (status == 0) return evaluate(state, *elif.body, std::nullopt, capture);
    }
    if (node.else_body) return evaluate(state, *node.else_body, std::nullopt, capture);
    return 0;
}

// A word written without quotes that expands to one empty field (an unset variable)
// contributes no value, so `for x in $unset` runs zero times.
bool expands_to_nothing(const Word& word, std::span<const std::string> fields) {
    if (fields.size() != 1 || !fields[0].empty()) return false;
    for (const Seg& seg : word) {
        if (seg.quote != Quote::None) return false;
    }
    return true;
}

std::vector<std::string> for_values(ShellState& state, const For& node) {
    if (node.words.empty()) return state.positional;
    // Each word's fields go straight onto the list, with no list of their own to allocate.
    std::vector<std::string> values;
    values.reserve(node.words.size());
    for (const Word& word : node.words) {
        const std::size_t first = values.size();
        expand_word_into(state, word, values);
        if (expands_to_nothing(word, std::span(values).subspan(first))) values.pop_back();
    }
    return values;
}

int eval_node(ShellState& state, const For& node, InputData, Capture capture) {
    int status = 0;
    for (std::string& value : for_values(state, node)) {
        if (auto r = set_var(state, node.var, std::move(value), false); !r) {
            report(state, std::string(node.var) + ": " + r.error());
        }
        status = evaluate(state, *node.body, std::nullopt, capture);
        if (after_body(state) == LoopStep::Leave) break;
    }
    return status;
}

int eval_node(ShellState& state, const Loop& node, InputData, Capture capture) {
    int status = 0;
    while (true) {
        const int cond = evaluate(state, *node.cond, std::nullopt, capture);
        if (leaves_loops(state)) break;
        if ((cond == 0) == node.until) break;
        status = evaluate(state, *node.body, std::nullopt, capture);
        if (after_body(state) == LoopStep::Leave) break;
    }
    return status;
}

// A pattern matches when it is "*", equals the word, or compiles and matches the whole word.
bool case_matches(const std::string& pattern, const std::string& word) {
    if (pattern == "*" || pattern == word) return true;
    auto compiled = Pattern::compile(pattern);
    return compiled && compiled->matches(word);
}

int eval_node(ShellState& state, const Case& node, InputData, Capture capture) {
    const std::string word = expand_word_single(state, node.word);
    for (const CaseArm& arm : node.arms) {
        for (const Word& pattern_word : arm.patterns) {
            const std::string pattern = expand_word_single(state, pattern_word);
            if (case_matches(pattern, word)) {
                return evaluate(state, *arm.body, std::nullopt, capture);
            }
        }
    }
    return 0;
}

int eval_node(ShellState& state, const FunctionDef& node, InputData, Capture) {
    // The body stays where it is, and the function keeps the memory of its tree alive.
    state.functions.insert_or_assign(std::string(node.name),
                                     std::shared_ptr<const Node>(state.tree_memory, node.body));
    state.last_status = 0;
    return 0;
}

// Counts the nesting of evaluate for as long as one call runs.
class DepthGuard {
public:
    explicit DepthGuard(ShellState& state) : state_(state) { ++state_.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() { --state_.depth; }

private:
    ShellState& state_;
};

// The one place where an allocation failure is caught: it ends the command being run, with
// its memory given back as the stack unwinds, never the shell. Every evaluate has its own, so
// the failure never unwinds through the evaluator's own bookkeeping between nodes.
int dispatch(ShellState& state, const Node& node, InputData input, Capture capture) {
    try {
        return std::visit(
            [&](const auto& kind) { return eval_node(state, kind, std::move(input), capture); },
            node.v);
    } catch (const std::bad_alloc&) {
        return out_of_memory(state, "out of memory: the command was stopped");
    }
}

}  // namespace

int evaluate(ShellState& state, const Node& node, InputData input, Capture capture) {
    notice_interrupt(state);
    if (should_unwind(state)) return state.last_status;
    if (state.depth >= kMaxEvalDepth) {
        report(state, "maximum nesting depth exceeded");
        state.nesting_exceeded = true;
        state.last_status = 1;
        return 1;
    }
    const bool outermost = state.depth == 0;
    int status = 0;
    {
        DepthGuard guard(state);
        status = dispatch(state, node, std::move(input), capture);
    }
    // A Ctrl-C that ended a wait of the command's own (a read, a FIFO) ends the command line;
    // during the last command of the text it is the text's status as well.
    if (notice_interrupt(state)) status = 130;
    if (outermost && (state.nesting_exceeded || state.out_of_memory || state.interrupted)) {
        // An overflow ends the text that caused it; the next text runs normally.
        state.nesting_exceeded = state.out_of_memory = false;
        status = state.last_status;
    }
    return status;
}

namespace {

// Makes `memory` the memory of the tree being evaluated for as long as the scope lasts.
class TreeScope {
public:
    TreeScope(ShellState& state, std::shared_ptr<const void> memory)
        : state_(state), saved_(std::exchange(state.tree_memory, std::move(memory))) {}
    TreeScope(const TreeScope&) = delete;
    TreeScope& operator=(const TreeScope&) = delete;
    ~TreeScope() { state_.tree_memory = std::move(saved_); }

private:
    ShellState& state_;
    std::shared_ptr<const void> saved_;
};

}  // namespace

int evaluate(ShellState& state, const Tree& tree, InputData input, Capture capture) {
    const TreeScope scope(state, tree.memory());
    return evaluate(state, static_cast<const Node&>(tree), std::move(input), capture);
}

int evaluate(ShellState& state, const std::shared_ptr<const Node>& body, InputData input,
             Capture capture) {
    const TreeScope scope(state, body);
    return evaluate(state, *body, std::move(input), capture);
}

}  // namespace kiln
