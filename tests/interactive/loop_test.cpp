// The interactive loop on a real terminal: banner, prompt, Ctrl-C, Ctrl-D, exit, start-up file.
#include <gtest/gtest.h>

#include <thread>

#include "pty_session.hpp"

namespace kiln::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kBanner =
    "Kestrel Shell (kiln) 0.1.0 \xE2\x80\x94 type 'help', 'exit' to quit\r\n";

// Gives the shell a moment to start running a typed line before a key interrupts it.
void let_it_start() {
    std::this_thread::sleep_for(300ms);
}

TEST(InteractiveLoop, BannerThenPromptColouredByLastStatus) {
    TempDir home;
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(kBanner));
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("false\r");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    // A line of blanks (a no-break space among them) runs nothing: the prompt stays red.
    sh.send("  \xC2\xA0 \r");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    sh.send("true\r");
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("exit\r");
    EXPECT_EQ(sh.wait_exit(), 0);
}

TEST(InteractiveLoop, DirectoryBelowHomeAndPlainPrefixSibling) {
    TempDir top;
    const fs::path home = top.path() / "al";
    fs::create_directories(home / "projects");
    fs::create_directories(top.path() / "alice");
    {
        PtySession sh(home, home / "projects");
        ASSERT_TRUE(sh.expect(colored_prompt("~/projects", true)));
        sh.send("cd /\r");
        ASSERT_TRUE(sh.expect(colored_prompt("/", true)));
    }
    PtySession sh(home, top.path() / "alice");
    EXPECT_TRUE(sh.expect(colored_prompt("~ice", true)));
}

TEST(InteractiveLoop, CtrlCAtThePromptDropsTheLineAndKeepsTheStatus) {
    TempDir home;
    PtySession sh(home.path());
    sh.send("false\r");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    sh.send("echo dropped");
    ASSERT_TRUE(sh.expect("dropped"));
    sh.send("\x03");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    sh.send("echo $?\r");
    ASSERT_TRUE(sh.expect("\r1\r\n"));
    EXPECT_EQ(sh.output().find("\rdropped"), std::string::npos);
}

TEST(InteractiveLoop, CtrlCStopsALoopOfBuiltins) {
    TempDir home;
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("while true; do true; done; echo after\r");
    let_it_start();
    sh.send("\x03");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    EXPECT_EQ(sh.output().find("\rafter"), std::string::npos);
    sh.send("echo $?\r");
    ASSERT_TRUE(sh.expect("\r130\r\n"));
    // The next line runs normally.
    sh.send("echo next\r");
    EXPECT_TRUE(sh.expect("\rnext\r\n"));
}

TEST(InteractiveLoop, CtrlCStopsARunningProgramAndTheShellSurvives) {
    TempDir home;
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    const auto started = std::chrono::steady_clock::now();
    sh.send("sleep 5; echo after\r");
    let_it_start();
    sh.send("\x03");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false), 4000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(sh.output().find("\rafter"), std::string::npos);
    sh.send("echo still here\r");
    EXPECT_TRUE(sh.expect("\rstill here\r\n"));
}

TEST(InteractiveLoop, CtrlDEndsWithTheLastStatus) {
    TempDir home;
    PtySession sh(home.path());
    sh.send("false\r");
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    sh.send("\x04");
    EXPECT_EQ(sh.wait_exit(), 1);
}

TEST(InteractiveLoop, ExitEndsWithItsStatusAndSavesTheHistoryFirst) {
    TempDir home;
    PtySession sh(home.path());
    sh.send("echo one\r");
    ASSERT_TRUE(sh.expect("\rone\r\n"));
    sh.send("exit 5\r");
    EXPECT_EQ(sh.wait_exit(), 5);
    EXPECT_EQ(read_file(home.path() / ".kiln_history"), "#V2\necho one\nexit 5\n");
}

TEST(InteractiveLoop, TypedBreakOrReturnDoesNotReachTheNextLine) {
    TempDir home;
    PtySession sh(home.path());
    sh.send("break\r");
    ASSERT_TRUE(sh.expect("kiln"));
    sh.send("return\r");
    ASSERT_TRUE(sh.expect("kiln"));
    sh.send("echo runs\r");
    EXPECT_TRUE(sh.expect("\rruns\r\n"));
}

TEST(InteractiveLoop, UnterminatedQuoteReportsASyntaxError) {
    TempDir home;
    PtySession sh(home.path());
    sh.send("echo 'open\r");
    ASSERT_TRUE(sh.expect("kiln: syntax error: unterminated single quote\r\n"));
    EXPECT_TRUE(sh.expect(colored_prompt("~", false)));
}

TEST(StartupFile, SyntaxErrorIsReportedBeforeTheBanner) {
    TempDir home;
    write_file(home.path() / ".kilnrc", "echo fine\necho \"open\n");
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
    const std::string& out = sh.output();
    const std::size_t error = out.find("kiln: syntax error: unterminated double quote");
    ASSERT_NE(error, std::string::npos);
    EXPECT_LT(error, out.find(kBanner));
    EXPECT_EQ(out.find("fine"), std::string::npos);  // nothing of the file ran
}

TEST(StartupFile, TopLevelBreakSwallowsTheFirstTypedLine) {
    TempDir home;
    write_file(home.path() / ".kilnrc", "X=set\nbreak\n");
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(kBanner));
    sh.send("echo first\r");
    ASSERT_TRUE(sh.expect("echo first"));
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("echo second $X\r");
    ASSERT_TRUE(sh.expect("\rsecond set\r\n"));
    EXPECT_EQ(sh.output().find("\rfirst"), std::string::npos);
}

TEST(StartupFile, ExitInTheFileStillShowsTheBannerAndEndsAtTheFirstLine) {
    TempDir home;
    write_file(home.path() / ".kilnrc", "exit 7\n");
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(kBanner));
    sh.send("echo never\r");
    EXPECT_EQ(sh.wait_exit(), 7);
    EXPECT_EQ(sh.output().find("\rnever"), std::string::npos);
}

}  // namespace
}  // namespace kiln::testing
