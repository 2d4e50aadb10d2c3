// Completion: where the word starts, command names from builtins and PATH, file names.
#include "main/completion.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

Names names(const Completion& c, std::string Candidate::*part) {
    Names out;
    for (const auto& cand : c.candidates)
        out.push_back(cand.*part);
    return out;
}
Names displays(const Completion& c) {
    return names(c, &Candidate::display);
}
Names replacements(const Completion& c) {
    return names(c, &Candidate::replacement);
}

Completion complete_at_end(std::string_view line) {
    return complete(line, line.size());
}

// A scratch directory as the current directory and the home directory, with its own PATH.
class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "kiln-complete-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        root_ = dir;
        fs::create_directories(root_ / "bin");
        fs::current_path(root_);
        ::setenv("PATH", (root_ / "bin").c_str(), 1);
        use_home(root_);
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        ::setenv("PATH", old_path_.c_str(), 1);
        use_home(old_home_);
        fs::remove_all(root_);
    }

    // The platform reads the home directory once, at start-up.
    static void use_home(const fs::path& home) {
        ::setenv("HOME", home.c_str(), 1);
        char arg0[] = "kiln";
        char* argv[] = {arg0, nullptr};
        platform::init(1, argv);
    }

    void touch(const fs::path& rel) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << "x";
    }
    void program(const std::string& name, bool executable = true) {
        touch("bin/" + name);
        ::chmod((root_ / "bin" / name).c_str(), executable ? 0755 : 0644);
    }

    fs::path root_;
    const fs::path old_cwd_ = fs::current_path();
    const std::string old_path_ = platform::get_env("PATH").value_or(""),
                      old_home_ = platform::get_env("HOME").value_or("");
};

TEST_F(CompletionTest, CommandNames) {
    EXPECT_EQ(replacements(complete_at_end("ec")), Names{"echo "});
    program("Emacs");
    program("echo");  // same name as the builtin: offered once
    program("eject");
    program("EJECT");         // differs only in case from a program found earlier or later
    program("ebook", false);  // not executable
    const auto names = displays(complete_at_end("e"));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));  // by bytes: capitals first
    for (const char* name : {"Emacs", "echo", "env", "exit", "export"})
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    EXPECT_EQ(std::count(names.begin(), names.end(), "ebook"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "eject") +
                  std::count(names.begin(), names.end(), "EJECT"),
              1);
    program("NotePad");  // matched without case, kept as spelled
    EXPECT_EQ(replacements(complete_at_end("notep")), Names{"NotePad "});
    for (int i = 0; i < 300; ++i)
        program("zz" + std::to_string(1000 + i));
    EXPECT_EQ(complete_at_end("zz").candidates.size(), kMaxProgramCandidates);
    // The word starts after blanks, Unicode ones included, and ends at the cursor.
    EXPECT_EQ(complete_at_end("  ec").start, 2u);
    EXPECT_EQ(complete_at_end("\u00A0ec").start, 2u);
    EXPECT_EQ(complete_at_end("\u3000ec").start, 3u);
    EXPECT_EQ(displays(complete_at_end("\u3000ec")), Names{"echo"});
    EXPECT_EQ(displays(complete("exp rest", 3)), Names{"export"});
}

TEST_F(CompletionTest, FileNames) {
    for (const char* name :
         {"echo-notes.txt", ".echo-hidden", "sub/echo-inner", "xyz-file", "B", "Readme.md",
          "docs/guide.txt", "out.txt", "my file.txt", "say \"hi\" now"})
        touch(name);
    EXPECT_EQ(displays(complete_at_end("true | ec")), Names{"echo-notes.txt"});  // not a command
    EXPECT_EQ(displays(complete_at_end(".ec")), Names{".echo-hidden"});
    EXPECT_EQ(replacements(complete_at_end("sub/ec")), Names{"sub/echo-inner"});
    EXPECT_EQ(replacements(complete_at_end("xyz")), Names{"xyz-file"});  // no command begins so
    EXPECT_EQ(replacements(complete_at_end("cat read")), Names{"Readme.md"});
    EXPECT_EQ(complete_at_end("echo x>ou").start, 7u);  // after break characters
    EXPECT_EQ(complete_at_end("X=ou").start, 2u);
    const std::string abs = "cat " + (root_ / "docs").string() + "/g";
    EXPECT_EQ(replacements(complete_at_end(abs)), Names{(root_ / "docs" / "guide.txt").string()});
    fs::current_path(root_ / "sub");
    const Completion home = complete_at_end("cat ~/docs/gu");
    EXPECT_EQ(home.start, 4u);
    EXPECT_EQ(replacements(home), Names{"~/docs/guide.txt"});
    EXPECT_EQ(displays(home), Names{"guide.txt"});
    EXPECT_EQ(replacements(complete_at_end("cat ~/do")), Names{"~/docs/"});
    EXPECT_EQ(replacements(complete_at_end("cat ~//do")), Names{"~//docs/"});  // not the root's
}

// In the quote, bare or already open, the characters it treats specially get a backslash.
TEST_F(CompletionTest, NamesWithBreakCharactersAreQuoted) {
    touch("my file.txt");
    touch("say \"hi\" now");
    touch("cost $5\\");
    touch("win\\dir x");
    const Completion bare = complete_at_end("cat my");
    EXPECT_EQ(bare.start, 4u);
    EXPECT_EQ(replacements(bare), Names{"\"my file.txt"});
    EXPECT_EQ(replacements(complete_at_end("cat sa")), Names{"\"say \\\"hi\\\" now"});
    EXPECT_EQ(replacements(complete_at_end("cat co")), Names{"\"cost \\$5\\\\"});
    EXPECT_EQ(replacements(complete_at_end("cat wi")), Names{"\"win\\dir x"});
    // Inside an open quote the word starts after it; an escaped quote is part of the word.
    const Completion open = complete_at_end("cat \"say \\\"h");
    EXPECT_EQ(open.start, 5u);
    EXPECT_EQ(replacements(open), Names{"say \\\"hi\\\" now"});
    EXPECT_EQ(displays(open), Names{"say \"hi\" now"});
}

}  // namespace
}  // namespace kiln
