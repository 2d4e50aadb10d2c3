// The shell state: special parameters, and the mirroring of exported variables into the
// process environment.
#include "exec/state.hpp"

#include <gtest/gtest.h>

#include "platform/platform.hpp"

namespace kiln {
namespace {

ShellState with_positional(std::vector<std::string> args) {
    ShellState state;
    state.positional = std::move(args);
    return state;
}

TEST(StateGetVar, SpecialParameters) {
    ShellState state = with_positional({"a", "b c", "d"});
    state.shell_name = "script.sh";
    state.last_status = -3;
    EXPECT_EQ(get_var(state, "?"), "-3");
    EXPECT_EQ(get_var(state, "$"), std::to_string(platform::process_id()));
    EXPECT_EQ(get_var(state, "0"), "script.sh");
    EXPECT_EQ(get_var(state, "#"), "3");
    EXPECT_EQ(get_var(state, "@"), "a b c d");
    EXPECT_EQ(get_var(state, "*"), "a b c d");
}

TEST(StateGetVar, NoPositionalParameters) {
    ShellState state;
    EXPECT_EQ(get_var(state, "?"), "0");
    EXPECT_EQ(get_var(state, "#"), "0");
    EXPECT_EQ(get_var(state, "@"), "");
    EXPECT_EQ(get_var(state, "*"), "");
    EXPECT_EQ(get_var(state, "1"), std::nullopt);
}

TEST(StateGetVar, PositionalNamesAndTheirLimits) {
    ShellState state = with_positional({"first", "second"});
    state.variables = {{"+", "plus"},
                       {"-", "minus"},
                       {"00", "zeros"},
                       {"99999999999999999999", "huge"},
                       {"3", "table"}};
    EXPECT_EQ(get_var(state, "1"), "first");
    EXPECT_EQ(get_var(state, "+1"), "first");
    EXPECT_EQ(get_var(state, "002"), "second");
    EXPECT_EQ(get_var(state, "3"), std::nullopt);  // past the end: the table is not consulted
    EXPECT_EQ(get_var(state, "+"), "plus");
    EXPECT_EQ(get_var(state, "-"), "minus");
    EXPECT_EQ(get_var(state, "00"), "zeros");
    EXPECT_EQ(get_var(state, "99999999999999999999"), "huge");  // does not fit in 64 bits
    EXPECT_EQ(get_var(state, "++1"), std::nullopt);
    EXPECT_EQ(get_var(state, "missing"), std::nullopt);
}

// Each test works on its own variable names and removes them from the environment again.
class StateEnvironment : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"KILN_T_PLAIN", "KILN_T_EXP", "KILN_T_NUL"}) {
            (void)platform::unset_env(name);
        }
    }
    ShellState state;
};

TEST_F(StateEnvironment, PlainVariableStaysOutOfTheEnvironment) {
    ASSERT_TRUE(set_var(state, "KILN_T_PLAIN", "1", false));
    EXPECT_EQ(get_var(state, "KILN_T_PLAIN"), "1");
    EXPECT_EQ(platform::get_env("KILN_T_PLAIN"), std::nullopt);
}

TEST_F(StateEnvironment, ExportedAssignmentsAreMirrored) {
    ASSERT_TRUE(set_var(state, "KILN_T_EXP", "one", true));
    EXPECT_EQ(platform::get_env("KILN_T_EXP"), "one");
    // Once exported, later plain assignments reach the environment too.
    ASSERT_TRUE(set_var(state, "KILN_T_EXP", "two", false));
    EXPECT_EQ(platform::get_env("KILN_T_EXP"), "two");
    ASSERT_TRUE(unset_var(state, "KILN_T_EXP"));
    EXPECT_EQ(get_var(state, "KILN_T_EXP"), std::nullopt);
    EXPECT_FALSE(state.exported.contains("KILN_T_EXP"));
    EXPECT_EQ(platform::get_env("KILN_T_EXP"), std::nullopt);
}

TEST_F(StateEnvironment, UnsetOfAnUnexportedNameLeavesTheEnvironment) {
    ASSERT_TRUE(platform::set_env("KILN_T_PLAIN", "outside"));
    state.variables["KILN_T_PLAIN"] = "inside";
    ASSERT_TRUE(unset_var(state, "KILN_T_PLAIN"));
    EXPECT_EQ(platform::get_env("KILN_T_PLAIN"), "outside");
}

TEST_F(StateEnvironment, RefusedNamesAreStoredAndReported) {
    for (const std::string& name :
         std::vector<std::string>{"", "=x", "a=b", std::string("a\0b", 3)}) {
        auto r = set_var(state, name, "v", true);
        ASSERT_FALSE(r) << name;
        EXPECT_FALSE(r.error().empty());
        EXPECT_EQ(r.error().find('\n'), std::string::npos);
        EXPECT_EQ(state.variables.at(name), "v");
        EXPECT_FALSE(unset_var(state, name)) << name;
        EXPECT_FALSE(state.variables.contains(name));
    }
    auto r = set_var(state, "KILN_T_NUL", std::string("a\0b", 3), true);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("NUL"), std::string::npos);
    EXPECT_EQ(state.variables.at("KILN_T_NUL"), std::string("a\0b", 3));
}

TEST(StateInit, ImportsTheEnvironmentAndDefaults) {
    ASSERT_TRUE(platform::set_env("KILN_T_IMPORT", "from env"));
    ShellState state;
    init_state(state);
    (void)platform::unset_env("KILN_T_IMPORT");
    EXPECT_EQ(get_var(state, "KILN_T_IMPORT"), "from env");
    EXPECT_TRUE(state.exported.contains("KILN_T_IMPORT"));
    EXPECT_EQ(state.aliases.at("ll"), "ls -al");
    EXPECT_EQ(state.aliases.at("la"), "ls -a");
    EXPECT_EQ(state.aliases.at(".."), "cd ..");
    EXPECT_EQ(state.cwd, *platform::current_dir());
    EXPECT_TRUE(get_var(state, "HOME").has_value() || !platform::home_dir().has_value());
}

TEST(StateUnwind, EveryPendingRequestUnwinds) {
    ShellState state;
    EXPECT_FALSE(should_unwind(state));
    const auto check = [](void (*set)(ShellState&)) {
        ShellState s;
        set(s);
        return should_unwind(s);
    };
    EXPECT_TRUE(check([](ShellState& s) { s.exit_pending = true; }));
    EXPECT_TRUE(check([](ShellState& s) { s.return_pending = true; }));
    EXPECT_TRUE(check([](ShellState& s) { s.break_count = 1; }));
    EXPECT_TRUE(check([](ShellState& s) { s.continue_count = 2; }));
    EXPECT_TRUE(check([](ShellState& s) { s.interrupted = true; }));
    EXPECT_TRUE(check([](ShellState& s) { s.nesting_exceeded = true; }));
}

}  // namespace
}  // namespace kiln
