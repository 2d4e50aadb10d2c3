// Windows command lines: splitting by the C runtime's rules, quoting for programs and for
// cmd.exe. Pure text functions, so they run here as well as on Windows.
#include "platform/win_cmdline.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiln::platform::win {
namespace {

using Args = std::vector<std::string>;

Args split_after_program(const std::string& rest) {
    Args args = split_command_line("prog " + rest);
    EXPECT_EQ(args.at(0), "prog");
    args.erase(args.begin());
    return args;
}

TEST(WinCommandLine, SplitsLikeTheCRuntime) {
    // The documented examples of the runtime's parsing rules.
    EXPECT_EQ(split_after_program(R"("a b c" d e)"), (Args{"a b c", "d", "e"}));
    EXPECT_EQ(split_after_program(R"("ab\"c" "\\" d)"), (Args{"ab\"c", "\\", "d"}));
    EXPECT_EQ(split_after_program(R"(a\\\b d"e f"g h)"), (Args{R"(a\\\b)", "de fg", "h"}));
    EXPECT_EQ(split_after_program(R"(a\\\"b c d)"), (Args{R"(a\"b)", "c", "d"}));
    EXPECT_EQ(split_after_program(R"(a\\\\"b c" d e)"), (Args{R"(a\\b c)", "d", "e"}));
    // A doubled quote inside quotes is a literal quote, and quoting goes on.
    EXPECT_EQ(split_after_program(R"(a"b"" c d)"), (Args{"ab\" c d"}));
}

TEST(WinCommandLine, SplitsBlanksEmptyArgumentsAndTheProgram) {
    EXPECT_EQ(split_after_program("  a \t b  "), (Args{"a", "b"}));
    EXPECT_EQ(split_after_program(R"("" x "")"), (Args{"", "x", ""}));
    EXPECT_EQ(split_after_program(R"("unclosed arg)"), (Args{"unclosed arg"}));
    EXPECT_EQ(split_after_program(""), Args{});
    // The program path knows no escapes: it ends at its closing quote or first blank.
    EXPECT_EQ(split_command_line(R"("C:\Program Files\kiln.exe" -c "echo hi")"),
              (Args{R"(C:\Program Files\kiln.exe)", "-c", "echo hi"}));
    EXPECT_EQ(split_command_line(R"(C:\dir\kiln.exe\ x)"), (Args{R"(C:\dir\kiln.exe\)", "x"}));
    EXPECT_EQ(split_command_line(""), (Args{""}));
}

TEST(WinCommandLine, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(program_command_line("prog", {}), R"("prog")");
    EXPECT_EQ(program_command_line("prog", {"a", "", "b c", "t\tu"}),
              "\"prog\" a \"\" \"b c\" \"t\tu\"");
    // Backslashes double only before a quote, or at the end of a quoted argument.
    EXPECT_EQ(program_command_line("p", {R"(a\b)", R"(a\"b)", R"(c\)", R"(d e\\)"}),
              R"("p" a\b a\\\"b c\ "d e\\\\")");
    EXPECT_EQ(program_command_line(R"(C:\My Tools\p)", {"\""}), R"("C:\My Tools\p" \")");
}

// Arguments made of the characters that matter to the rules, in every mix: each must come
// back exactly from the command line built for it.
TEST(WinCommandLine, QuotedArgumentsSplitBackExactly) {
    const std::string alphabet[] = {"a", " ", "\t", "\"", "\\", "\xC3\xA9"};
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % bound;
    };
    for (int round = 0; round < 2000; ++round) {
        Args args(next(4));
        for (auto& arg : args) {
            for (std::uint32_t n = next(7); n > 0; --n)
                arg += alphabet[next(6)];
        }
        const std::string line = program_command_line(R"(C:\dir with space\p.exe)", args);
        Args expected = args;
        expected.insert(expected.begin(), R"(C:\dir with space\p.exe)");
        ASSERT_EQ(split_command_line(line), expected) << line;
    }
}

TEST(WinBatchCommandLine, RunsTheScriptThroughCmd) {
    EXPECT_EQ(batch_command_line(R"(C:\b\foo.bat)", {"x", "two words"}),
              R"(cmd.exe /e:ON /v:OFF /d /c ""C:\b\foo.bat" x "two words"")");
    EXPECT_EQ(batch_command_line(R"(C:\b\foo.cmd)", {}),
              R"(cmd.exe /e:ON /v:OFF /d /c ""C:\b\foo.cmd"")");
}

TEST(WinBatchCommandLine, QuotesWhatCmdWouldActOn) {
    auto one = [](const std::string& arg) {
        const auto line = batch_command_line("s.bat", {arg});
        EXPECT_TRUE(line.has_value()) << arg;
        const std::string head = R"(cmd.exe /e:ON /v:OFF /d /c ""s.bat" )";
        if (!line || !line->starts_with(head)) return std::string("?");
        return line->substr(head.size(), line->size() - head.size() - 1);
    };
    EXPECT_EQ(one("plain-1.txt"), "plain-1.txt");
    EXPECT_EQ(one(""), R"("")");
    EXPECT_EQ(one("a&b"), R"("a&b")");
    EXPECT_EQ(one("a|b>c<d^e"), R"("a|b>c<d^e")");
    EXPECT_EQ(one("a\"b"), R"("a""b")");
    EXPECT_EQ(one(R"(dir\)"), R"("dir\\")");
    // A variable reference cannot be expanded: each % is preceded by an empty substring.
    EXPECT_EQ(one("%PATH%"), R"("%%cd:~,%PATH%%cd:~,%")");
}

TEST(WinBatchCommandLine, RefusesWhatCmdCannotTake) {
    EXPECT_FALSE(batch_command_line("s.bat", {"a\nb"}).has_value());
    EXPECT_FALSE(batch_command_line("s.bat", {"ok", "a\rb"}).has_value());
    EXPECT_FALSE(batch_command_line("s.bat", {std::string("a\0b", 3)}).has_value());
    EXPECT_FALSE(batch_command_line("s\"x.bat", {}).has_value());
    EXPECT_TRUE(batch_command_line("s.bat", {"a b", "%x%", "\"q\""}).has_value());
}

}  // namespace
}  // namespace kiln::platform::win
