// The builtins called directly with a ShellState: exact output bytes, statuses and state.
#include "builtins/builtins.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/platform.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;

struct Ran {
    int status;
    std::string out;
    std::string err;
};

Ran run(ShellState& state, std::string_view name, std::vector<std::string> args,
        std::string_view input = {}) {
    const Builtin* b = find_builtin(name);
    EXPECT_NE(b, nullptr) << name;
    if (b == nullptr) return {-1, "", ""};
    BuiltinIo io;
    const int status = b->fn(state, args, input, io);
    return {status, std::move(io.out), std::move(io.err)};
}

Ran run(std::string_view name, std::vector<std::string> args, std::string_view input = {}) {
    ShellState state;
    return run(state, name, std::move(args), input);
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh directory that is also the process's and the state's current directory.
class BuiltinsInDir : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("kiln-builtins-" + std::to_string(platform::process_id()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
        state_.cwd = dir_.string();
    }
    void TearDown() override {
        fs::current_path(saved_);
        fs::remove_all(dir_);
    }

    fs::path saved_;
    fs::path dir_;
    ShellState state_;
};

TEST(BuiltinTable, FixedOrderAndExactNames) {
    const std::vector<std::string_view> expected = {
        "cd",   "pwd",    "echo",  "printf",   "export",  "unset",  "set",
        "env",  "which",  "type",  "alias",    "unalias", "source", ".",
        "read", "test",   "[",     "true",     "false",   "clear",  "help",
        "exit", "return", "break", "continue", "history", "ls",     "cat"};
    std::vector<std::string_view> names;
    for (const Builtin& b : builtin_table())
        names.push_back(b.name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(find_builtin("type")->fn, find_builtin("which")->fn);
    EXPECT_EQ(find_builtin(".")->fn, find_builtin("source")->fn);
    EXPECT_EQ(find_builtin("CD"), nullptr);
    EXPECT_EQ(find_builtin("ech"), nullptr);
    EXPECT_EQ(find_builtin(""), nullptr);
}

TEST(ControlBuiltins, HelpListsTheSortedNamesInFourLines) {
    const Ran r = run("help", {"ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "kiln \xE2\x80\x94 Kestrel Shell (built-ins):\n"
              "  .  [  alias  break  cat  cd  clear  continue\n"
              "  echo  env  exit  export  false  help  history  ls\n"
              "  printf  pwd  read  return  set  source  test  true\n"
              "  type  unalias  unset  which\n");
}

TEST(ControlBuiltins, ExitAndReturnParseAStrictInt32OrKeepTheLastStatus) {
    struct Case {
        std::vector<std::string> args;
        int expected;
    };
    const std::vector<Case> cases = {
        {{}, 5},
        {{"3", "4"}, 3},
        {{"-1"}, -1},
        {{"+7"}, 7},
        {{"abc"}, 5},
        {{" 3"}, 5},
        {{"99999999999"}, 5},
        {{"2147483647"}, 2147483647},
        {{"-2147483648"}, -2147483647 - 1},
        {{""}, 5},
        {{"0x10"}, 5},
    };
    for (const Case& c : cases) {
        ShellState state;
        state.last_status = 5;
        EXPECT_EQ(run(state, "exit", c.args).status, c.expected);
        EXPECT_TRUE(state.exit_pending);
        EXPECT_EQ(state.exit_code, c.expected);
        EXPECT_FALSE(state.return_pending);

        ShellState fn_state;
        fn_state.last_status = 5;
        EXPECT_EQ(run(fn_state, "return", c.args).status, c.expected);
        EXPECT_TRUE(fn_state.return_pending);
        EXPECT_EQ(fn_state.return_status, c.expected);
        EXPECT_FALSE(fn_state.exit_pending);
    }
}

TEST(ControlBuiltins, BreakAndContinueCountAtLeastOne) {
    const std::vector<std::pair<std::vector<std::string>, std::uint32_t>> cases = {
        {{}, 1},    {{"0"}, 1},          {{"1"}, 1},
        {{"2"}, 2}, {{"-2"}, 1},         {{"+3"}, 3},
        {{"x"}, 1}, {{"4294967296"}, 1}, {{"4294967295"}, 4294967295u},
    };
    for (const auto& [args, count] : cases) {
        ShellState state;
        state.break_count = 9;  // each call replaces the previous count
        EXPECT_EQ(run(state, "break", args).status, 0);
        EXPECT_EQ(state.break_count, count);
        EXPECT_EQ(run(state, "continue", args).status, 0);
        EXPECT_EQ(state.continue_count, count);
    }
}

TEST(ControlBuiltins, ClearHistoryTrueFalse) {
    EXPECT_EQ(run("clear", {"x"}).out, "\x1b[2J\x1b[H");
    const Ran history = run("history", {"-c", "5"});
    EXPECT_EQ(history.status, 0);
    EXPECT_EQ(history.out + history.err, "");
    EXPECT_EQ(run("true", {"x"}).status, 0);
    EXPECT_EQ(run("false", {}).status, 1);
}

TEST(IoBuiltins, EchoTakesOnlyALeadingDashN) {
    EXPECT_EQ(run("echo", {}).out, "\n");
    EXPECT_EQ(run("echo", {"-n"}).out, "");
    EXPECT_EQ(run("echo", {"-n", "-n", "x"}).out, "-n x");
    EXPECT_EQ(run("echo", {"-e", "a\\nb"}).out, "-e a\\nb\n");
    EXPECT_EQ(run("echo", {"a", "b"}).out, "a b\n");
    EXPECT_EQ(run("echo", {"a   b", ""}).out, "a   b \n");
}

TEST(IoBuiltins, PrintfConversionsAndEscapes) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"x=%d y=%s\\n", "42", "hi"}, "x=42 y=hi\n"},
        {{"%d|%d", "-7", "abc"}, "-7|0"},
        {{"%d", " 5"}, "0"},
        {{"%d", "+5"}, "5"},
        {{"%d", "9223372036854775807"}, "9223372036854775807"},
        {{"%d", "-9223372036854775808"}, "-9223372036854775808"},
        {{"%d", "9223372036854775808"}, "0"},
        {{"%d"}, "0"},
        {{"%s-%s", "a"}, "a-"},
        {{"%s\\n", "a", "b", "c"}, "a\n"},
        {{"100%%"}, "100%"},
        {{"50%"}, "50%"},
        {{"%q%5d", "1"}, "%q%5d"},
        {{"a\\"}, "a\\"},
        {{"\\\\\\t\\r\\a\\0\\x41"}, "\\\t\r\\a\\0\\x41"},
        {{"%\xC3\xA9\\\xC3\xA9"}, "%\xC3\xA9\\\xC3\xA9"},
        {{""}, ""},
    };
    for (const Case& c : cases) {
        const Ran r = run("printf", c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.out, c.expected) << c.args[0];
    }
    const Ran none = run("printf", {});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out + none.err, "");
}

TEST(IoBuiltins, ReadSplitsTheFirstLineOfItsInput) {
    ShellState state;
    EXPECT_EQ(run(state, "read", {"a", "b"}, "one  two   three\nnext\n").status, 0);
    EXPECT_EQ(state.variables["a"], "one");
    EXPECT_EQ(state.variables["b"], "two three");

    EXPECT_EQ(run(state, "read", {"a", "b", "c"}, "x\n").status, 0);
    EXPECT_EQ(state.variables["a"], "x");
    EXPECT_EQ(state.variables["b"], "");
    EXPECT_EQ(state.variables["c"], "");

    EXPECT_EQ(run(state, "read", {}, "  hi there \r\n").status, 0);
    EXPECT_EQ(state.variables["REPLY"], "  hi there ");  // only one CR goes; spaces stay

    // Unicode white space separates words; tabs and no-break spaces too.
    run(state, "read", {"p", "q"},
        "\t\xE3\x80\x80"
        "a\xC2\xA0"
        "b\xE2\x80\x83"
        "c ");
    EXPECT_EQ(state.variables["p"], "a");
    EXPECT_EQ(state.variables["q"], "b c");

    // Invalid bytes become U+FFFD; the line ends at the first LF even without a final one.
    run(state, "read", {"v"},
        "a\xFF"
        "b");
    EXPECT_EQ(state.variables["v"],
              "a\xEF\xBF\xBD"
              "b");
    run(state, "read", {"v"}, "\nsecond");
    EXPECT_EQ(state.variables["v"], "");
}

TEST(ConditionBuiltins, ArgumentCountDecidesTheMeaning) {
    struct Case {
        std::vector<std::string> args;
        int expected;
    };
    const std::vector<Case> cases = {
        {{}, 1},
        {{"x"}, 0},
        {{""}, 1},
        {{"-n"}, 0},
        {{"-z"}, 0},
        {{"-z", ""}, 0},
        {{"-z", "a"}, 1},
        {{"-n", ""}, 1},
        {{"!", ""}, 0},
        {{"!", "x"}, 1},
        {{"-q", "x"}, 1},
        {{"a", "=", "a"}, 0},
        {{"a", "==", "a"}, 0},
        {{"a", "!=", "b"}, 0},
        {{"a", "=", "b"}, 1},
        {{"10", "-gt", "9"}, 0},
        {{"abc", "-eq", "0"}, 0},
        {{" 7 ", "-eq", "7"}, 0},
        {{"\xE3\x80\x80"
          "7\t",
          "-eq", "+7"},
         0},
        {{"", "-eq", "0"}, 0},
        {{"9223372036854775808", "-eq", "0"}, 0},
        {{"-9223372036854775808", "-lt", "9223372036854775807"}, 0},
        {{"1", "-ne", "1"}, 1},
        {{"1", "-le", "1"}, 0},
        {{"2", "-ge", "3"}, 1},
        {{"2", "-lt", "10"}, 0},
        {{"a", "-a", "b"}, 1},
        {{"1", "-lt", "2", "-a", "3"}, 1},
        {{"!", "a", "=", "b"}, 1},
    };
    for (const Case& c : cases) {
        const Ran r = run("test", c.args);
        EXPECT_EQ(r.status, c.expected) << ::testing::PrintToString(c.args);
        EXPECT_EQ(r.out + r.err, "");
        std::vector<std::string> bracketed = c.args;
        bracketed.push_back("]");
        EXPECT_EQ(run("[", bracketed).status, c.expected) << ::testing::PrintToString(c.args);
    }
    EXPECT_EQ(run("[", {}).status, 2);
    EXPECT_EQ(run("[", {"-d", "."}).status, 2);
    EXPECT_EQ(run("[", {"]", "x"}).status, 2);
    EXPECT_EQ(run("[", {"]"}).status, 1);
    EXPECT_EQ(run("[", {"]", "]"}).status, 0);  // one argument "]" is not empty
}

TEST_F(BuiltinsInDir, FileTestsFollowTheCurrentDirectory) {
    write_file(dir_ / "f", "x");
    fs::create_directory(dir_ / "d");
    fs::create_symlink("f", dir_ / "link");
    fs::create_symlink("missing", dir_ / "dangling");
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"-e", "f", 0},    {"-f", "f", 0},
        {"-d", "f", 1},    {"-e", "d", 0},
        {"-d", "d", 0},    {"-f", "d", 1},
        {"-x", "d", 0},    {"-r", "f", 0},
        {"-w", "d", 0},    {"-e", "nope", 1},
        {"-f", "link", 0}, {"-e", "dangling", 1},
        {"-e", "", 1},     {"-e", std::string("f\0x", 3), 1},
    };
    for (const auto& [op, path, expected] : cases) {
        EXPECT_EQ(run(state_, "test", {op, path}).status, expected) << op << " " << path;
    }
}

TEST_F(BuiltinsInDir, CdNormalizesAndExportsPwdAndOldpwd) {
    fs::create_directories(dir_ / "a" / "c");
    fs::create_directories(dir_ / "a" / "b");
    const std::string start = state_.cwd;
    ASSERT_EQ(run(state_, "cd", {"a/./b/../c", "ignored"}).status, 0);
    EXPECT_EQ(state_.cwd, start + "/a/c");
    EXPECT_EQ(*platform::current_dir(), start + "/a/c");
    EXPECT_EQ(run(state_, "pwd", {}).out, start + "/a/c\n");
    EXPECT_EQ(state_.variables["OLDPWD"], start);
    EXPECT_EQ(state_.variables["PWD"], start + "/a/c");
    EXPECT_TRUE(state_.exported.contains("PWD"));
    EXPECT_EQ(platform::get_env("PWD"), start + "/a/c");

    const Ran back = run(state_, "cd", {"-"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.out, "");
    EXPECT_EQ(state_.cwd, start);

    ASSERT_EQ(run(state_, "cd", {"/../.."}).status, 0);
    EXPECT_EQ(state_.cwd, "/");
}

TEST_F(BuiltinsInDir, CdFailuresChangeNothing) {
    write_file(dir_ / "somefile", "");
    const std::string start = state_.cwd;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"somefile"}, "cd: somefile: Not a directory\n"},
        {{"nowhere"}, "cd: nowhere: No such file or directory\n"},
        {{""}, "cd: no target\n"},
        {{"-"}, "cd: no target\n"},  // OLDPWD unset
    };
    for (const auto& [args, message] : cases) {
        const Ran r = run(state_, "cd", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(state_.cwd, start);
        EXPECT_FALSE(state_.variables.contains("PWD"));
    }
}

TEST_F(BuiltinsInDir, CdWithoutArgumentsGoesHome) {
    fs::create_directory(dir_ / "home");
    state_.variables["HOME"] = (dir_ / "home").string();
    ASSERT_EQ(run(state_, "cd", {}).status, 0);
    EXPECT_EQ(state_.cwd, (dir_ / "home").string());
}

TEST_F(BuiltinsInDir, LsSortsByBytesAndMarksDirectories) {
    write_file(dir_ / "b", "");
    write_file(dir_ / "B", "");
    write_file(dir_ / ".hidden", "");
    write_file(dir_ / "big", std::string(1234, 'x'));
    fs::create_directory(dir_ / "d");
    fs::create_directory_symlink("d", dir_ / "ld");
    write_file(dir_ / "raw\xFF", "");  // names are bytes on this system and pass unchanged

    EXPECT_EQ(run(state_, "ls", {}).out, "B\nb\nbig\nd/\nld\nraw\xFF\n");
    EXPECT_EQ(run(state_, "ls", {"-a"}).out, ".hidden\nB\nb\nbig\nd/\nld\nraw\xFF\n");
    const Ran lng = run(state_, "ls", {"-lx"});
    // Directory and link sizes depend on the file system; the rest is exact.
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = lng.out.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(lng.out.substr(at, nl - at));
    }
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "-           0  B");
    EXPECT_EQ(lines[2], "-        1234  big");
    EXPECT_TRUE(lines[3].starts_with("d ") && lines[3].ends_with("  d/")) << lines[3];
    EXPECT_EQ(lines[3].size(), 17u);
    EXPECT_TRUE(lines[4].starts_with("- ") && lines[4].ends_with("  ld")) << lines[4];
    EXPECT_EQ(lines[5], "-           0  raw\xFF");
    EXPECT_EQ(run(state_, "ls", {"-al"}).out, run(state_, "ls", {"-la"}).out);
    EXPECT_EQ(run(state_, "ls", {"-la"}).out.substr(0, 23), "-           0  .hidden\n");
}

TEST_F(BuiltinsInDir, LsWithSeveralPathsWritesHeadersAndGoesOnAfterErrors) {
    fs::create_directories(dir_ / "a" / "x");
    fs::create_directories(dir_ / "b");
    write_file(dir_ / "b" / "y", "");
    write_file(dir_ / "file", "");
    EXPECT_EQ(run(state_, "ls", {"a", "b"}).out, "a:\nx/\n\nb:\ny\n");
    EXPECT_EQ(run(state_, "ls", {"file", "a"}).out, "file\n\na:\nx/\n");

    const Ran r = run(state_, "ls", {"missing", "a/"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\na/:\nx/\n");
    EXPECT_EQ(r.err, "ls: missing: no such file or directory\n");

    const Ran dash = run(state_, "ls", {"-"});
    EXPECT_EQ(dash.status, 1);
    EXPECT_EQ(dash.err, "ls: -: no such file or directory\n");

    // Relative paths follow the shell's directory, not the process's.
    state_.cwd = (dir_ / "a").string();
    EXPECT_EQ(run(state_, "ls", {"..//b/."}).out, "y\n");
    EXPECT_EQ(run(state_, "ls", {(dir_ / "b").string()}).out, "y\n");
}

TEST_F(BuiltinsInDir, LsReportsAnUnreadableDirectory) {
    fs::create_directory(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms::none);
    const Ran r = run(state_, "ls", {"locked"});
    fs::permissions(dir_ / "locked", fs::perms::owner_all);
    if (r.status == 0) GTEST_SKIP() << "running with permission to read any directory";
    EXPECT_EQ(r.err, "ls: locked: Permission denied (os error 13)\n");
}

TEST_F(BuiltinsInDir, CatCopiesFilesAndInputBytesUnchanged) {
    write_file(dir_ / "a", std::string("A\r\n\0", 4));
    write_file(dir_ / "b", "B");
    EXPECT_EQ(run(state_, "cat", {}, "in\n").out, "in\n");
    EXPECT_EQ(run(state_, "cat", {"-", "b", "-"}, "in").out, "inBin");
    const Ran r = run(state_, "cat", {"a", "missing", "b", "."});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string("A\r\n\0B", 5));
    EXPECT_EQ(r.err,
              "cat: missing: No such file or directory (os error 2)\n"
              "cat: .: Is a directory (os error 21)\n");
    EXPECT_EQ(run(state_, "cat", {std::string("b\0x", 3)}).status, 1);
}

TEST_F(BuiltinsInDir, SourceReportsUnreadableFiles) {
    write_file(dir_ / "latin1", "echo \xE9\n");
    const Ran none = run(state_, "source", {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "source: filename argument required\n");
    const Ran missing = run(state_, ".", {"missing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "source: missing: No such file or directory (os error 2)\n");
    const Ran bad = run(state_, "source", {"latin1"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "source: latin1: stream did not contain valid UTF-8\n");
}

TEST_F(BuiltinsInDir, WhichReportsBuiltinsFunctionsPathsAndPrograms) {
    write_file(dir_ / "tool", "");
    fs::create_directory(dir_ / "sub");
    state_.functions.emplace("f", std::make_shared<const Node>());
    state_.functions.emplace("cd", std::make_shared<const Node>());
    const Ran r = run(state_, "type", {"cd", ".", "f", "./tool", "./sub", "sh", "nosuch-kiln"});
    EXPECT_EQ(r.status, 1);
    const std::string sh = platform::find_program("sh").value_or("?");
    EXPECT_EQ(r.out,
              "cd: shell builtin\n.: shell builtin\nf: shell function\n./tool\n" + sh + "\n");
    EXPECT_EQ(r.err, "./sub: not found\nnosuch-kiln: not found\n");
    EXPECT_EQ(run(state_, "which", {}).status, 0);
}

TEST(VarBuiltins, ExportSplitsAtTheFirstEqualsSign) {
    ShellState state;
    EXPECT_EQ(run(state, "export", {"KILN_TEST_A=b=c", "KILN_TEST_B"}).status, 0);
    EXPECT_EQ(state.variables["KILN_TEST_A"], "b=c");
    EXPECT_EQ(platform::get_env("KILN_TEST_A"), "b=c");
    EXPECT_TRUE(state.exported.contains("KILN_TEST_B"));
    EXPECT_FALSE(platform::get_env("KILN_TEST_B"));

    state.variables["KILN_TEST_C"] = "v";
    EXPECT_EQ(run(state, "export", {"KILN_TEST_C"}).status, 0);
    EXPECT_EQ(platform::get_env("KILN_TEST_C"), "v");

    EXPECT_EQ(run(state, "unset", {"KILN_TEST_A", "KILN_TEST_C", "never-set"}).status, 0);
    EXPECT_FALSE(platform::get_env("KILN_TEST_A"));
    EXPECT_FALSE(platform::get_env("KILN_TEST_C"));
    EXPECT_FALSE(state.variables.contains("KILN_TEST_A"));
}

TEST(VarBuiltins, RefusedEnvironmentNamesAreReportedAndTheRestGoesOn) {
    ShellState state;
    const Ran r = run(state, "export", {"=x", "KILN_TEST_D=1"});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.rfind("export: =x: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one line
    EXPECT_EQ(platform::get_env("KILN_TEST_D"), "1");
    (void)unset_var(state, "KILN_TEST_D");
}

TEST(VarBuiltins, SetAndAliasListSortedByBytes) {
    ShellState state;
    state.variables = {{"b", "1"}, {"a", "2"}, {"B", "x y"}, {"_", ""}};
    EXPECT_EQ(run(state, "set", {"ignored"}).out, "B=x y\n_=\na=2\nb=1\n");

    state.aliases = {{"ll", "ls -al"}, {"la", "ls -a"}, {"..", "cd .."}};
    EXPECT_EQ(run(state, "alias", {}).out,
              "alias ..='cd ..'\nalias la='ls -a'\nalias ll='ls -al'\n");
    EXPECT_EQ(run(state, "alias", {"g=git status", "a=b=c", "nosuch", "g"}).out,
              "alias g='git status'\n");
    EXPECT_EQ(state.aliases["a"], "b=c");
    EXPECT_EQ(run(state, "unalias", {"g", "nosuch", "ll"}).status, 0);
    EXPECT_EQ(run(state, "alias", {}).out, "alias ..='cd ..'\nalias a='b=c'\nalias la='ls -a'\n");
}

TEST(VarBuiltins, EnvListsTheProcessEnvironmentSorted) {
    ShellState state;
    (void)set_var(state, "KILN_TEST_Z", "last", true);
    (void)set_var(state, "KILN_TEST_Y", "first", true);
    (void)set_var(state, "kiln_test_local", "hidden", false);
    const std::string out = run(state, "env", {}).out;
    const auto y = out.find("\nKILN_TEST_Y=first\n");
    const auto z = out.find("\nKILN_TEST_Z=last\n");
    ASSERT_NE(y, std::string::npos);
    ASSERT_NE(z, std::string::npos);
    EXPECT_LT(y, z);
    EXPECT_EQ(out.find("kiln_test_local"), std::string::npos);
    (void)unset_var(state, "KILN_TEST_Y");
    (void)unset_var(state, "KILN_TEST_Z");
}

}  // namespace
}  // namespace kiln
