// Windows command lines: splitting by the C runtime's rules, quoting for programs and for
// cmd.exe. Pure text functions, so they run here as well as on Windows; the fuzz target
// checks that any arguments split back exactly from their quoting.
#include "platform/win_cmdline.hpp"

#include <gtest/gtest.h>

namespace kiln::platform::win {
namespace {

using Args = std::vector<std::string>;

TEST(WinCommandLine, SplitAndQuote) {
    static const struct {
        std::string_view line;
        Args args;
    } splits[] = {
        // the runtime's documented examples; a doubled quote inside quotes is one quote
        {R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
        {R"(p "ab\"c" "\\" d)", {"p", "ab\"c", "\\", "d"}},
        {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
        {R"(p a\\\"b c)", {"p", R"(a\"b)", "c"}},
        {R"(p a\\\\"b c" d)", {"p", R"(a\\b c)", "d"}},
        {R"(p a"b"" c d)", {"p", "ab\" c d"}},
        {"p  a \t b  ", {"p", "a", "b"}},
        {R"(p "" x "" "unclosed arg)", {"p", "", "x", "", "unclosed arg"}},
        // the program path knows no escapes: it ends at its closing quote or first blank
        {R"("C:\Program Files\k.exe" -c "echo hi")",
         {R"(C:\Program Files\k.exe)", "-c", "echo hi"}},
        {R"(C:\dir\k.exe\ x)", {R"(C:\dir\k.exe\)", "x"}},
        {"", {""}},
    };
    for (const auto& s : splits)
        EXPECT_EQ(split_command_line(std::string(s.line)), s.args) << s.line;
    EXPECT_EQ(program_command_line("prog", {"a", "", "b c", "t\tu"}),
              "\"prog\" a \"\" \"b c\" \"t\tu\"");
    // Backslashes double only before a quote, or at the end of a quoted argument.
    EXPECT_EQ(
        program_command_line(R"(C:\My Tools\p)", {R"(a\b)", R"(a\"b)", R"(c\)", R"(d e\\)", "\""}),
        R"("C:\My Tools\p" a\b a\\\"b c\ "d e\\\\" \")");
    // A program's own name is spelled with backslashes, which cmd.exe needs.
    EXPECT_EQ(program_command_line("C:/w/cmd.exe", {"/c"}), R"("C:\w\cmd.exe" /c)");
}

// Exit codes are signed 32-bit numbers; a program ended by Ctrl-C was interrupted.
TEST(WinCommandLine, ExitCodes) {
    EXPECT_EQ(exit_status(3), 3);
    EXPECT_EQ(exit_status(0xFFFFFFFF), -1);
    EXPECT_EQ(exit_status(0xC000013B), -1073741509);
    EXPECT_EQ(exit_status(kControlCExit), 130);
}

// What cmd.exe would act on is quoted; a variable reference cannot be expanded: each % is
// preceded by an empty substring.
TEST(WinCommandLine, BatchFilesRunThroughCmd) {
    EXPECT_EQ(
        batch_command_line(R"(C:\b\foo.bat)",
                           {"x", "two words", "", "a&b", "a|b>c<d^e", "a\"b", R"(d\)"}),
        R"(cmd.exe /e:ON /v:OFF /d /c ""C:\b\foo.bat" x "two words" "" "a&b" "a|b>c<d^e" "a""b" "d\\"")");
    EXPECT_EQ(batch_command_line("s.bat", {"%PATH%"}),
              R"(cmd.exe /e:ON /v:OFF /d /c ""s.bat" "%%cd:~,%PATH%%cd:~,%"")");
    EXPECT_EQ(batch_command_line("b/s.cmd", {}), R"(cmd.exe /e:ON /v:OFF /d /c ""b\s.cmd"")");
    EXPECT_FALSE(batch_command_line("s\"x.bat", {}).has_value());
}

}  // namespace
}  // namespace kiln::platform::win
