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

std::vector<std::string> displays(const Completion& c) {
    std::vector<std::string> out;
    for (const auto& cand : c.candidates)
        out.push_back(cand.display);
    return out;
}

std::vector<std::string> replacements(const Completion& c) {
    std::vector<std::string> out;
    for (const auto& cand : c.candidates)
        out.push_back(cand.replacement);
    return out;
}

Completion complete_at_end(std::string_view line) {
    return complete(line, line.size());
}

// A scratch directory as the current directory and the home directory, with its own PATH.
class CompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kiln-complete-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "bin");
        old_cwd_ = fs::current_path();
        fs::current_path(root_);
        if (const char* p = std::getenv("PATH")) old_path_ = p;
        if (const char* h = std::getenv("HOME")) old_home_ = h;
        ::setenv("PATH", (root_ / "bin").c_str(), 1);
        use_home(root_);
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        if (old_path_) ::setenv("PATH", old_path_->c_str(), 1);
        if (old_home_) use_home(*old_home_);
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
    fs::path old_cwd_;
    std::optional<std::string> old_path_;
    std::optional<std::string> old_home_;
};

TEST_F(CompletionTest, FirstWordCompletesBuiltinNamesWithABlank) {
    const Completion c = complete_at_end("ec");
    EXPECT_EQ(c.start, 0u);
    EXPECT_EQ(displays(c), std::vector<std::string>{"echo"});
    EXPECT_EQ(replacements(c), std::vector<std::string>{"echo "});
}

TEST_F(CompletionTest, ProgramsJoinBuiltinsSortedByBytes) {
    program("Emacs");
    program("echo");  // same name as the builtin: offered once
    program("eject");
    program("EJECT");         // differs only in case from a program found earlier or later
    program("ebook", false);  // not executable
    const Completion c = complete_at_end("e");
    const auto names = displays(c);
    ASSERT_GE(names.size(), 6u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::count(names.begin(), names.end(), "echo"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "ebook"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "eject") +
                  std::count(names.begin(), names.end(), "EJECT"),
              1);
    for (const char* b : {"echo", "env", "exit", "export", "Emacs"}) {
        EXPECT_EQ(std::count(names.begin(), names.end(), b), 1) << b;
    }
    EXPECT_EQ(names.front()[0], 'E');  // names in capitals sort first
}

TEST_F(CompletionTest, ProgramNamesMatchWithoutCaseAndKeepTheirSpelling) {
    program("NotePad");
    const Completion c = complete_at_end("notep");
    EXPECT_EQ(replacements(c), std::vector<std::string>{"NotePad "});
}

TEST_F(CompletionTest, AtMost250ProgramNames) {
    for (int i = 0; i < 300; ++i)
        program("zz" + std::to_string(1000 + i));
    EXPECT_EQ(complete_at_end("zz").candidates.size(), kMaxProgramCandidates);
}

TEST_F(CompletionTest, WhereTheCommandWordStarts) {
    EXPECT_EQ(complete_at_end("  ec").start, 2u);
    EXPECT_EQ(complete_at_end("\u00A0ec").start, 2u);  // after a no-break space
    EXPECT_EQ(complete_at_end("\u3000ec").start, 3u);  // after an ideographic space
    EXPECT_EQ(displays(complete_at_end("\u3000ec")), std::vector<std::string>{"echo"});
    // The cursor, not the end of the line, ends the word.
    EXPECT_EQ(displays(complete("exp rest", 3)), std::vector<std::string>{"export"});
}

TEST_F(CompletionTest, OtherWordsAndPathLikeFirstWordsCompleteFileNames) {
    touch("echo-notes.txt");
    touch(".echo-hidden");
    touch("sub/echo-inner");
    EXPECT_EQ(displays(complete_at_end("cat ec")), std::vector<std::string>{"echo-notes.txt"});
    EXPECT_EQ(displays(complete_at_end("true | ec")), std::vector<std::string>{"echo-notes.txt"});
    EXPECT_EQ(displays(complete_at_end(".ec")), std::vector<std::string>{".echo-hidden"});
    EXPECT_EQ(replacements(complete_at_end("sub/ec")), std::vector<std::string>{"sub/echo-inner"});
    // No builtin or program begins with "xyz": the first word falls back to file names.
    touch("xyz-file");
    EXPECT_EQ(replacements(complete_at_end("xyz")), std::vector<std::string>{"xyz-file"});
}

TEST_F(CompletionTest, EmptyWordListsTheCurrentDirectorySorted) {
    touch("b");
    touch("B");
    touch("a");
    fs::create_directory(root_ / "dir");
    for (std::string_view line : {"", "cat "}) {
        const Completion c = complete_at_end(line);
        EXPECT_EQ(c.start, line.size());
        EXPECT_EQ(displays(c), (std::vector<std::string>{"B", "a", "b", "bin", "dir"}));
        EXPECT_EQ(replacements(c), (std::vector<std::string>{"B", "a", "b", "bin/", "dir/"}));
    }
}

TEST_F(CompletionTest, FileNamesMatchWithoutCase) {
    touch("Readme.md");
    EXPECT_EQ(replacements(complete_at_end("cat read")), std::vector<std::string>{"Readme.md"});
}

TEST_F(CompletionTest, TildeSlashIsBelowHome) {
    touch("docs/guide.txt");
    fs::create_directories(root_ / "elsewhere");
    fs::current_path(root_ / "elsewhere");
    const Completion c = complete_at_end("cat ~/docs/gu");
    EXPECT_EQ(c.start, 4u);
    EXPECT_EQ(replacements(c), std::vector<std::string>{"~/docs/guide.txt"});
    EXPECT_EQ(displays(c), std::vector<std::string>{"guide.txt"});
    EXPECT_EQ(replacements(complete_at_end("cat ~/do")), std::vector<std::string>{"~/docs/"});
}

TEST_F(CompletionTest, AbsoluteDirectoriesAndMissingOnes) {
    touch("abs/one");
    const std::string line = "cat " + (root_ / "abs").string() + "/o";
    EXPECT_EQ(replacements(complete_at_end(line)),
              std::vector<std::string>{(root_ / "abs" / "one").string()});
    EXPECT_TRUE(complete_at_end("cat nowhere/x").candidates.empty());
}

TEST_F(CompletionTest, WordStartsAfterBreakCharacters) {
    touch("out.txt");
    const Completion c = complete_at_end("echo x>ou");
    EXPECT_EQ(c.start, 7u);
    EXPECT_EQ(replacements(c), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(complete_at_end("X=ou").start, 2u);
}

TEST_F(CompletionTest, NamesWithBreakCharactersAreQuoted) {
    touch("my file.txt");
    touch("say \"hi\" now");
    // A bare word gets a leading double quote.
    Completion c = complete_at_end("cat my");
    EXPECT_EQ(c.start, 4u);
    EXPECT_EQ(replacements(c), std::vector<std::string>{"\"my file.txt"});
    // Inside an open double quote the word starts after the quote, and double quotes in the
    // name get a backslash.
    c = complete_at_end("cat \"say");
    EXPECT_EQ(c.start, 5u);
    EXPECT_EQ(replacements(c), std::vector<std::string>{"say \\\"hi\\\" now"});
    // An escaped quote inside the open quote is part of the word.
    c = complete_at_end("cat \"say \\\"h");
    EXPECT_EQ(c.start, 5u);
    EXPECT_EQ(displays(c), std::vector<std::string>{"say \"hi\" now"});
    // A closed quote does not open a word.
    EXPECT_EQ(complete_at_end("cat \"a b\" my").start, 10u);
}

}  // namespace
}  // namespace kiln
