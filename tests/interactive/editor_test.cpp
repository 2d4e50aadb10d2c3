// The line editor on a real terminal: Tab completion, the listing, and the history file.
#include <gtest/gtest.h>

#include "pty_session.hpp"

namespace kiln::testing {
namespace {

using namespace std::chrono_literals;

// A shell in a home directory whose PATH holds no programs, so that only builtins complete.
struct Fixture {
    TempDir home;
    std::unique_ptr<PtySession> sh;

    explicit Fixture(std::string term = "xterm") {
        fs::create_directories(home.path() / "bin");
        SessionOptions options(home.path());
        options.term = std::move(term);
        options.path_var = (home.path() / "bin").string();
        sh = std::make_unique<PtySession>(options);
        EXPECT_TRUE(sh->expect(colored_prompt("~", true)));
    }
};

TEST(Completion, TabCompletesACommandNameWithItsBlank) {
    Fixture f;
    f.sh->send("ec\t");
    ASSERT_TRUE(f.sh->expect("ho "));
    f.sh->send("done\r");
    EXPECT_TRUE(f.sh->expect("\rdone\r\n"));
}

TEST(Completion, TabCompletesFileAndDirectoryNames) {
    Fixture f;
    write_file(f.home.path() / "notes.txt", "note body\n");
    write_file(f.home.path() / "nested" / "inner.txt", "inner body\n");
    f.sh->send("cat not\t\r");
    ASSERT_TRUE(f.sh->expect("\rnote body\r\n"));
    f.sh->send("cat nes\t");
    ASSERT_TRUE(f.sh->expect("nested/"));
    f.sh->send("in\t\r");
    EXPECT_TRUE(f.sh->expect("\rinner body\r\n"));
}

TEST(Completion, NameWithABlankGetsALeadingQuote) {
    Fixture f;
    write_file(f.home.path() / "my file.txt", "quoted body\n");
    f.sh->send("cat my\t");
    ASSERT_TRUE(f.sh->expect("\"my file.txt"));
    f.sh->send("\"\r");
    EXPECT_TRUE(f.sh->expect("\rquoted body\r\n"));
}

TEST(Completion, SecondTabListsTheDisplayNames) {
    Fixture f;
    write_file(f.home.path() / "dir" / "fileA", "");
    write_file(f.home.path() / "dir" / "fileB", "");
    f.sh->send("cat dir/f\t\t");
    ASSERT_TRUE(f.sh->expect("fileA"));
    ASSERT_TRUE(f.sh->expect("fileB"));
    // The listing shows names, not the replacement text with its directory part; then the
    // prompt and the typed text come back.
    EXPECT_TRUE(f.sh->expect(colored_prompt("~", true) + "cat dir/file"));
    EXPECT_EQ(f.sh->output().find("dir/fileA"), std::string::npos);
}

TEST(Completion, ManyCandidatesAskBeforeListing) {
    Fixture f;
    // Long names: two columns of 75 rows, more than the 24 rows of the terminal.
    const std::string stem = "a-candidate-with-a-long-name-";
    for (int i = 0; i < 150; ++i)
        write_file(f.home.path() / "many" / (stem + std::to_string(100 + i)), "");
    f.sh->send("cat many/a\t\t");
    ASSERT_TRUE(f.sh->expect("Display all 150 possibilities? (y or n)"));
    f.sh->send("n");
    ASSERT_TRUE(f.sh->expect(colored_prompt("~", true) + "cat many/" + stem));
    EXPECT_EQ(f.sh->output().find(stem + "249"), std::string::npos);
    // Answered yes, the listing is paged.
    f.sh->send("\t\t");
    ASSERT_TRUE(f.sh->expect("Display all 150 possibilities? (y or n)"));
    f.sh->send("y");
    ASSERT_TRUE(f.sh->expect(stem + "100"));
    ASSERT_TRUE(f.sh->expect("--More--"));
    f.sh->send("q");
    EXPECT_TRUE(f.sh->expect(colored_prompt("~", true) + "cat many/" + stem));
    EXPECT_EQ(f.sh->output().find(stem + "249"), std::string::npos);
}

TEST(Completion, WorksOnADumbTerminal) {
    Fixture f("dumb");
    f.sh->send("expo\t");
    ASSERT_TRUE(f.sh->expect("rt "));
    f.sh->send("K=v; echo $K\r");
    // No bracketed paste on a dumb terminal: the output follows the echoed line directly.
    EXPECT_TRUE(f.sh->expect("$K\r\nv\r\n"));
}

TEST(History, LoadedEntriesAreRecalledAndTheFileIsRewritten) {
    TempDir home;
    std::string file = "#V2\n";
    for (int i = 0; i < 99; ++i)
        file += "echo old" + std::to_string(i) + "\n";
    file += "echo back\\\\slash\n";
    write_file(home.path() / ".kiln_history", file);
    {
        PtySession sh(home.path());
        ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
        sh.send("\x1b[A\r");  // Up recalls the newest entry
        ASSERT_TRUE(sh.expect("\rback\\slash\r\n"));
        sh.send("echo new\r");
        ASSERT_TRUE(sh.expect("\rnew\r\n"));
        sh.send("echo new\r");  // equal to the newest entry: not added again
        ASSERT_TRUE(sh.expect("\rnew\r\n"));
        sh.send("printf 'a\\\\b\\n'\r");
        ASSERT_TRUE(sh.expect("\ra\\b\r\n"));
        // Ctrl-D only once the editor reads again: typed while the command runs, the
        // terminal would take it as its own end-of-file mark.
        ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
        sh.send("\x04");
        ASSERT_EQ(sh.wait_exit(), 0);
    }
    const std::string saved = read_file(home.path() / ".kiln_history");
    std::string expected = "#V2\n";
    for (int i = 2; i < 99; ++i)
        expected += "echo old" + std::to_string(i) + "\n";
    // The recalled line was added again: it is a line the editor returned, and the newest
    // entry then was itself, so only one copy is kept.
    expected += "echo back\\\\slash\necho new\nprintf 'a\\\\\\\\b\\\\n'\n";
    EXPECT_EQ(saved, expected);
}

TEST(History, UntouchedHistoryIsNotRewritten) {
    TempDir home;
    const std::string original = "legacy line\n\n";
    write_file(home.path() / ".kiln_history", original);
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("\x04");
    ASSERT_EQ(sh.wait_exit(), 0);
    EXPECT_EQ(read_file(home.path() / ".kiln_history"), original);
}

TEST(History, UnwritableHistoryIsIgnoredSilently) {
    TempDir home;
    fs::create_directories(home.path() / ".kiln_history");  // a directory cannot be written
    PtySession sh(home.path());
    ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
    sh.send("exit 4\r");
    EXPECT_EQ(sh.wait_exit(), 4);
    EXPECT_EQ(sh.output().find("kiln: "), std::string::npos);
}

}  // namespace
}  // namespace kiln::testing
