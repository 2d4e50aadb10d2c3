// The interactive shell on a real terminal: banner and prompt, the readline editor and its
// completion, history across sessions, Ctrl-C at the prompt and during a command, end of
// input, and the start-up file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "pty_session.hpp"

namespace kiln::testing {
namespace {

constexpr std::string_view kBanner =
    "Kestrel Shell (kiln) 0.1.0 \xE2\x80\x94 type 'help', 'exit' to quit\r\n";

// Gives the shell a moment to start running a typed line before a key interrupts it.
void let_it_start() {
    std::this_thread::sleep_for(300ms);
}

TEST(Terminal, OneSessionThroughTheEditorCompletionInterruptsAndHistory) {
    TempDir home;
    std::string history = "#V2\n";
    for (int i = 0; i < 99; ++i)
        history += "echo old" + std::to_string(i) + "\n";
    write_file(home.path / ".kiln_history", history + "echo back\\\\slash\n");
    write_file(home.path / "say \"hi\" now", "quoted body\n");
    write_file(home.path / "dir" / "fileA", "");
    write_file(home.path / "dir" / "fileB", "");
    const std::string stem = "a-candidate-with-a-long-name-";  // 75 rows of two: over a page
    for (int i = 0; i < 150; ++i)
        write_file(home.path / "many" / (stem + std::to_string(100 + i)), "");
    fs::create_directories(home.path / "bin");
    fs::create_symlink("/bin/sleep", home.path / "bin" / "sleep");
    const std::string ok = colored_prompt("~", true), failed = colored_prompt("~", false);
    PtySession sh(home.path, {}, "xterm", (home.path / "bin").string());  // builtins only
    ASSERT_TRUE(sh.expect(kBanner));
    ASSERT_TRUE(sh.expect(ok));
    // Up recalls the newest entry of the file
    ASSERT_TRUE(sh.type("\x1b[A\r", "\rback\\slash\r\n"));
    ASSERT_TRUE(sh.type("false\r", failed));
    ASSERT_TRUE(sh.type("echo dropped", "dropped"));
    ASSERT_TRUE(sh.type("\x03", failed));  // Ctrl-C drops the line and keeps the status
    // blanks, a no-break space among them, run nothing
    ASSERT_TRUE(sh.type("  \xC2\xA0 \r", failed));
    ASSERT_TRUE(sh.type("ec\t", "ho "));  // a command name gets its blank
    ASSERT_TRUE(sh.type("$?\r", "\r1\r\n"));
    // a name with quotes in it, quoted whole
    ASSERT_TRUE(sh.type("cat sa\t", "\"say \\\"hi\\\" now"));
    ASSERT_TRUE(sh.type("\"\r", "\rquoted body\r\n"));
    // the second Tab lists the names, then the line comes back
    ASSERT_TRUE(sh.type("cat dir/f\t\t", "fileA"));
    ASSERT_TRUE(sh.expect("fileB"));
    ASSERT_TRUE(sh.expect(ok + "cat dir/file"));
    EXPECT_EQ(sh.output().find("dir/fileA"), std::string::npos);
    ASSERT_TRUE(sh.type("\x03", ok));
    ASSERT_TRUE(sh.type("cat many/a\t\t", "Display all 150 possibilities? (y or n)"));
    ASSERT_TRUE(sh.type("n", ok + "cat many/" + stem));
    ASSERT_TRUE(sh.type("\t\t", "Display all 150 possibilities? (y or n)"));
    ASSERT_TRUE(sh.type("y", stem + "100"));
    ASSERT_TRUE(sh.expect("--More--"));
    ASSERT_TRUE(sh.type("q", ok + "cat many/" + stem));
    EXPECT_EQ(sh.output().find(stem + "249"), std::string::npos);
    ASSERT_TRUE(sh.type("\x03", ok));
    sh.send("while true; do true; done; echo after\r");  // a loop of builtins
    let_it_start();
    ASSERT_TRUE(sh.type("\x03", failed));
    const auto started = std::chrono::steady_clock::now();
    sh.send("sleep 5; echo after\r");  // a program
    let_it_start();
    ASSERT_TRUE(sh.type("\x03", failed, 4s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    // neither reaches the next line
    ASSERT_TRUE(sh.type("echo $?; return\rbreak\recho runs\r", "\r130\r\n"));
    ASSERT_TRUE(sh.expect("\rruns\r\n"));
    EXPECT_EQ(sh.output().find("\rafter"), std::string::npos);
    EXPECT_EQ(sh.output().find("\rdropped"), std::string::npos);
    ASSERT_TRUE(sh.type("echo 'open\r", "kiln: syntax error: unterminated single quote\r\n"));
    ASSERT_TRUE(sh.expect(failed));
    ASSERT_TRUE(sh.type("cd dir\r", colored_prompt("~/dir", true)));
    sh.send("echo runs\recho runs\rexit 5\r");  // equal to the newest entry: not added again
    EXPECT_EQ(sh.wait_exit(), 5);
    // The newest 100 entries, the line of blanks among them.
    std::string saved = "#V2\n";
    for (int i = 13; i < 99; ++i)
        saved += "echo old" + std::to_string(i) + "\n";
    saved +=
        "echo back\\\\slash\nfalse\n  \xC2\xA0 \necho $?\ncat \"say \\\\\"hi\\\\\" now\"\n"
        "while true; do true; done; echo after\nsleep 5; echo after\necho $?; return\nbreak\n"
        "echo runs\necho 'open\ncd dir\necho runs\nexit 5\n";
    EXPECT_EQ(read_file(home.path / ".kiln_history"), saved);
}

TEST(Terminal, StartupFileAndDumbTerminal) {
    TempDir home;
    write_file(home.path / ".kilnrc", "echo fine\necho \"open\n");
    fs::create_directories(home.path / ".kiln_history");  // cannot be written: ignored
    fs::create_directories(home.path / "bin");
    fs::create_directories(home.path / "dir");
    {
        PtySession sh(home.path, {}, "dumb", (home.path / "bin").string());
        ASSERT_TRUE(sh.expect(colored_prompt("~", false)));
        const std::size_t error = sh.output().find("kiln: syntax error: unterminated double quote");
        EXPECT_LT(error, sh.output().find(kBanner));
        EXPECT_EQ(sh.output().find("fine"), std::string::npos);  // nothing of the file ran
        ASSERT_TRUE(sh.type("expo\t", "rt "));
        // no bracketed paste: the output follows the line directly
        ASSERT_TRUE(sh.type("K=v; echo $K\r", "$K\r\nv\r\n"));
        ASSERT_TRUE(sh.type("cd /; false\r", colored_prompt("/", false)));
        sh.send("\x04");
        EXPECT_EQ(sh.wait_exit(), 1);
        EXPECT_EQ(sh.output().find("kiln: ", sh.output().find(kBanner)), std::string::npos);
    }
    fs::remove(home.path / ".kiln_history");
    write_file(home.path / ".kiln_history", "legacy line\n\n");
    write_file(home.path / ".kilnrc", "X=set\nbreak\n");
    {
        PtySession sh(home.path, home.path / "dir");
        ASSERT_TRUE(sh.expect(kBanner));
        // a break in the file swallows the first typed line
        ASSERT_TRUE(sh.type("echo first\r", colored_prompt("~/dir", true)));
        ASSERT_TRUE(sh.type("echo second $X\r", "\rsecond set\r\n"));
        EXPECT_EQ(sh.output().find("\rfirst"), std::string::npos);
        // Ctrl-C ends the shell's own waits at once: a FIFO without a reader, the terminal, a
        // search of every directory, an endless file
        ASSERT_EQ(::mkfifo((home.path / "dir" / "fifo").c_str(), 0600), 0);
        for (const char* line : {"echo hi >> fifo\r", "read v\r", "echo /** > /dev/null\r",
                                 "cat /dev/zero > /dev/null\r"}) {
            sh.send(line);
            let_it_start();
            const auto interrupted = std::chrono::steady_clock::now();
            ASSERT_TRUE(sh.type("\x03", colored_prompt("~/dir", false), 3s)) << line;
            EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 3s) << line;
            ASSERT_TRUE(sh.type("echo $?\r", "\r130\r\n")) << line;
        }
    }
    write_file(home.path / ".kiln_history", "legacy line\n\n");
    fs::remove(home.path / ".kilnrc");
    {
        PtySession sh(home.path);
        ASSERT_TRUE(sh.expect(colored_prompt("~", true)));
        sh.send("\x04");
        EXPECT_EQ(sh.wait_exit(), 0);
        EXPECT_EQ(read_file(home.path / ".kiln_history"), "legacy line\n\n");  // untouched: kept
    }
    write_file(home.path / ".kilnrc", "exit 7\n");
    PtySession sh(home.path);
    ASSERT_TRUE(sh.expect(kBanner));  // the banner still shows; the first line ends the shell
    sh.send("echo never\r");
    EXPECT_EQ(sh.wait_exit(), 7);
    EXPECT_EQ(sh.output().find("\rnever"), std::string::npos);
    EXPECT_EQ(read_file(home.path / ".kiln_history"), "#V2\nlegacy line\necho never\n");
}

TEST(Terminal, HistorySurvivesEndingsSharingAndFilesItCannotUse) {
    TempDir home;
    const fs::path file = home.path / ".kiln_history";
    write_file(file, "#V2\necho old\n");
    const std::string ok = colored_prompt("~", true);
    PtySession a(home.path), b(home.path);
    ASSERT_TRUE(a.expect(ok));
    ASSERT_TRUE(b.expect(ok));
    ASSERT_TRUE(a.type("echo a1\r", "\ra1\r\n"));
    ASSERT_TRUE(b.type("echo b1\r", "\rb1\r\n"));
    ASSERT_TRUE(a.type("echo a2\r", ok));
    ASSERT_TRUE(a.type("echo being typed", "typed"));
    a.signal(SIGHUP);  // the terminal is gone: the line being typed is not kept
    EXPECT_EQ(a.wait_exit(), 128 + SIGHUP);
    EXPECT_EQ(read_file(file), "#V2\necho old\necho a1\necho a2\n");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // Ctrl-\ at the prompt and during a program: the program ends, the shell goes on.
    ASSERT_TRUE(b.type("\x1c", ok));
    b.send("sleep 5; echo \"[$?]\"\r");
    let_it_start();
    ASSERT_TRUE(b.type("\x1c", "[131]", 4s));
    ASSERT_TRUE(b.type("while true; do true; done\r", "done"));
    let_it_start();
    b.signal(SIGTERM);  // a running loop stops, the history is saved
    EXPECT_EQ(b.wait_exit(), 128 + SIGTERM);
    const std::string both =
        "#V2\necho old\necho a1\necho a2\necho b1\nsleep 5; echo \"[$?]\"\n"
        "while true; do true; done\n";
    EXPECT_EQ(read_file(file), both);
    // A save that cannot write (a read-only directory) leaves the file whole and says nothing.
    fs::permissions(home.path, fs::perms::owner_read | fs::perms::owner_exec);
    {
        PtySession sh(home.path);
        ASSERT_TRUE(sh.type("echo c1\rexit\r", "\rc1\r\n"));
        EXPECT_EQ(sh.wait_exit(), 0);
        EXPECT_EQ(sh.output().find("kiln: "), std::string::npos);
        EXPECT_EQ(read_file(file), both);
    }
    fs::permissions(home.path, fs::perms::owner_all);
    // A file that cannot be read is named once and never overwritten.
    fs::permissions(file, fs::perms::owner_write);
    PtySession sh(home.path);
    ASSERT_TRUE(sh.type("echo d1\rexit\r", "\rd1\r\n"));
    EXPECT_EQ(sh.wait_exit(), 0);
    const std::string message = "kiln: " + file.string() + ": Permission denied (os error 13)";
    EXPECT_EQ(sh.output().find(message), sh.output().rfind(message));
    EXPECT_LT(sh.output().find(message), sh.output().find(kBanner));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_file(file), both);
}

// Not a terminal: the shell's output is a pipe whose reader goes away after one line.
TEST(Terminal, BrokenPipeEndsTheRun) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::execl(KILN_BINARY, "kiln", "-c", "while true; do echo y; done", nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    char line[2] = {};
    EXPECT_EQ(::read(fds[0], line, 2), 2);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 141);
}

}  // namespace
}  // namespace kiln::testing
