// The evaluator's unwinding where end-to-end cases cannot reach: Ctrl-C during a loop of
// builtins, the nesting bound, and captures handed along without copies.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "exec/exec.hpp"
#include "lexer/lexer.hpp"
#include "main/shell.hpp"
#include "parser/parser.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

int run_captured(ShellState& state, std::string_view text, std::string& out) {
    auto tokens = tokenize(text);
    EXPECT_TRUE(tokens);
    auto tree = parse(std::move(*tokens));
    EXPECT_TRUE(tree);
    platform::Spool spool(std::move(out));
    const int status = evaluate(state, *tree, std::nullopt, &spool);
    out = spool.take();
    return status;
}

TEST(EvaluateInterrupt, CtrlCStopsALoopOfBuiltinsAndTheRestOfTheText) {
    platform::catch_interrupts();
    (void)platform::take_interrupt();
    ShellState state;
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::raise(SIGINT);
    });
    const int status = run_source(state, "while true; do true; done; reached=yes");
    later.join();
    EXPECT_EQ(status, 130);
    EXPECT_EQ(state.last_status, 130);
    EXPECT_TRUE(state.interrupted);
    EXPECT_FALSE(state.variables.contains("reached"));

    // Once the interactive loop clears the request, the next text runs normally.
    state.interrupted = false;
    EXPECT_EQ(run_source(state, "reached=yes"), 0);
    EXPECT_EQ(state.variables.at("reached"), "yes");
}

TEST(EvaluateDepth, RunawayRecursionIsStoppedAndTheShellGoesOn) {
    ShellState state;
    std::string out;
    // The overflow ends the command that caused it; the next one runs and sees status 1.
    EXPECT_EQ(run_captured(state, "f() { echo x; f; echo never; }; f; echo after $?", out), 0);
    EXPECT_FALSE(state.nesting_exceeded);
    EXPECT_EQ(state.depth, 0);
    EXPECT_EQ(out.find("never"), std::string::npos);
    EXPECT_TRUE(out.ends_with("x\nafter 1\n"));
    EXPECT_GT(out.size(), 100u);  // the recursion went deep before it was stopped

    out.clear();
    EXPECT_EQ(run_captured(state, "echo again", out), 0);
    EXPECT_EQ(out, "again\n");
}

TEST(EvaluateDepth, RecursionThroughSubstitutionIsStopped) {
    ShellState state;
    std::string out;
    EXPECT_EQ(run_captured(state, "f() { echo $(f)x; }; f", out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(state.depth, 0);
}

TEST(EvaluatePipeline, TheLastStageTakesTheBufferWhole) {
    ShellState state;
    std::string out;
    EXPECT_EQ(run_captured(state, "echo abc | cat | cat", out), 0);
    EXPECT_EQ(out, "abc\n");
    out = "kept ";
    EXPECT_EQ(run_captured(state, "echo abc | cat", out), 0);
    EXPECT_EQ(out, "kept abc\n");
}

}  // namespace
}  // namespace kiln
