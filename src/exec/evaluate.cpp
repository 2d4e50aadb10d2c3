// The evaluator: one visit per node kind. It stops early while a request is pending
// (state/pending.hpp), and its loops and outermost list take the requests meant for them.
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

int evaluate_node(ShellState& state, const Node& node, InputData input, Capture capture);

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
        evaluate_node(state, node.stages[i], std::move(input), &out);
        if (should_unwind(state)) return 0;
        input = std::move(out);
    }
    return evaluate_node(state, node.stages.back(), std::move(input), capture);
}

int eval_node(ShellState& state, const AndOr& node, InputData input, Capture capture) {
    const int left = evaluate_node(state, node.left, std::move(input), capture);
    if (should_unwind(state)) return left;
    if (node.is_or) return left == 0 ? 0 : evaluate_node(state, node.right, std::nullopt, capture);
    if (left == 0) return evaluate_node(state, node.right, std::nullopt, capture);
    state.last_status = left;
    return left;
}

int eval_node(ShellState& state, const Sequence& node, InputData, Capture capture) {
    int status = 0;
    for (const Node& item : node.items) {
        status = evaluate_node(state, item, std::nullopt, capture);
        if (should_unwind(state)) break;
    }
    return status;
}

// Only the working directory is restored; every other change made inside stays.
int eval_node(ShellState& state, const Subshell& node, InputData input, Capture capture) {
    const std::string saved_cwd = state.cwd;
    auto process_cwd = platform::current_dir();
    const int status = evaluate_node(state, node.body, std::move(input), capture);
    state.cwd = saved_cwd;
    if (process_cwd) (void)platform::set_current_dir(*process_cwd);
    return status;
}

int eval_node(ShellState& state, const Group& node, InputData input, Capture capture) {
    return evaluate_node(state, node.body, std::move(input), capture);
}

int eval_node(ShellState& state, const If& node, InputData input, Capture capture) {
    for (const IfClause& clause : node.clauses) {
        // Only the first condition reads the input.
        const int status = evaluate_node(state, clause.cond, std::move(input), capture);
        input = std::nullopt;
        if (should_unwind(state)) return status;
        if (status == 0) return evaluate_node(state, clause.body, std::nullopt, capture);
    }
    if (node.else_body) return evaluate_node(state, node.else_body, std::nullopt, capture);
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
    const LoopScope loop(state);
    int status = 0;
    for (std::string& value : for_values(state, node)) {
        if (auto r = set_var(state, node.var, std::move(value), false); !r) {
            report(state, std::string(node.var) + ": " + r.error());
        }
        status = evaluate_node(state, node.body, std::nullopt, capture);
        if (leave_loop_body(state) == LoopStep::Leave) break;
    }
    return status;
}

// A break or continue in the condition is taken as one in the body would be.
int eval_node(ShellState& state, const Loop& node, InputData, Capture capture) {
    const LoopScope loop(state);
    int status = 0;
    while (true) {
        const int cond = evaluate_node(state, node.cond, std::nullopt, capture);
        if (should_unwind(state)) {
            if (leave_loop_body(state) == LoopStep::Leave) break;
            continue;
        }
        if ((cond == 0) == node.until) break;
        status = evaluate_node(state, node.body, std::nullopt, capture);
        if (leave_loop_body(state) == LoopStep::Leave) break;
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
                return evaluate_node(state, arm.body, std::nullopt, capture);
            }
        }
    }
    return 0;
}

int eval_node(ShellState& state, const FunctionDef& node, InputData, Capture) {
    // The body stays where it is, and the function keeps the memory of its tree alive.
    state.functions.insert_or_assign(std::string(node.name), Tree{state.tree_memory, node.body});
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
        return visit(node, [&](const auto& kind) {
            return eval_node(state, kind, std::move(input), capture);
        });
    } catch (const std::bad_alloc&) {
        return out_of_memory(state, "out of memory: the command was stopped");
    }
}

int evaluate_node(ShellState& state, const Node& node, InputData input, Capture capture) {
    notice_interrupt(state);
    if (should_unwind(state)) return state.last_status;
    if (state.depth >= kMaxEvalDepth) {
        report(state, "maximum nesting depth exceeded");
        request(state, {Request::Overflow, 0, 0});
        state.last_status = 1;
        return 1;
    }
    int status = 0;
    {
        DepthGuard guard(state);
        status = dispatch(state, node, std::move(input), capture);
    }
    // A Ctrl-C that ended a wait of the command's own (a read, a FIFO) ends the command line;
    // during the last command of the text it is the text's status as well.
    if (notice_interrupt(state)) status = 130;
    return status;
}

// The root of a whole text, run by nothing else: its outermost list settles each of its
// commands (a root that is no list is its one command). The list counts as one level of
// nesting, as any list does.
int evaluate_outermost(ShellState& state, const Node& root, InputData input, Capture capture) {
    const std::optional<Sequence> list = as<Sequence>(root);
    if (!list)
        return settle_outermost(state, evaluate_node(state, root, std::move(input), capture));
    notice_interrupt(state);
    if (should_unwind(state)) return state.last_status;
    const DepthGuard guard(state);
    int status = 0;
    for (const Node item : list->items) {
        status = settle_outermost(state, evaluate_node(state, item, std::nullopt, capture));
        if (should_unwind(state)) break;
    }
    return status;
}

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
    const TreeScope scope(state, tree.memory);
    if (state.depth == 0) return evaluate_outermost(state, tree.root, std::move(input), capture);
    return evaluate_node(state, tree.root, std::move(input), capture);
}

}  // namespace kiln
