// Filename patterns: compilation, whole-string matching and the file-system walk.
#include "expand/pattern.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

bool match(std::string_view pattern, std::string_view subject) {
    auto compiled = Pattern::compile(pattern);
    EXPECT_TRUE(compiled.has_value()) << pattern;
    return compiled && compiled->matches(subject);
}

TEST(PatternCompile, RejectsUnclosedSetsAndStrayDoubleStars) {
    for (const char* bad : {"[", "a[b", "[!", "[]", "[!]", "[a-", "x/[ab/y", "***", "a**", "**b",
                            "a/**b", "x/***/y", "****"}) {
        EXPECT_FALSE(Pattern::compile(bad).has_value()) << bad;
    }
    for (const char* good :
         {"", "*", "**", "**/", "/**", "a/**/b", "**/**", "[]]", "[!]]", "[a-]", "a]", "*a*"}) {
        EXPECT_TRUE(Pattern::compile(good).has_value()) << good;
    }
}

TEST(PatternMatch, WildcardsCoverTheWholeSubject) {
    EXPECT_TRUE(match("a?c", "abc"));
    EXPECT_FALSE(match("a?c", "ac"));
    EXPECT_FALSE(match("a?c", "abcd"));
    EXPECT_TRUE(match("*", ""));
    EXPECT_TRUE(match("a*", "a"));
    EXPECT_TRUE(match("*.txt", "notes.txt"));
    EXPECT_FALSE(match("*.txt", "notes.txt.bak"));
    EXPECT_TRUE(match("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(match("*a*b*", "xxbxxaxx"));
    EXPECT_TRUE(match("*ab", "aab"));  // the star has to give a character back
    EXPECT_TRUE(match("a*b?c", "abxbyc"));
    EXPECT_FALSE(match("*?\xC3\xA9", "\xC3\xA9"));  // é is one character, not two
    EXPECT_TRUE(match("", ""));
    EXPECT_FALSE(match("", "a"));
}

TEST(PatternMatch, CaseSensitiveAndDotsAndSeparatorsAreOrdinary) {
    EXPECT_FALSE(match("*.TXT", "a.txt"));
    EXPECT_TRUE(match("*", ".hidden"));
    EXPECT_TRUE(match("?hidden", ".hidden"));
    EXPECT_TRUE(match("a*c", "a/b/c"));
    EXPECT_TRUE(match("a?c", "a/c"));
    EXPECT_TRUE(match("a[/]c", "a/c"));
    EXPECT_TRUE(match("a\\b", "a\\b"));  // no escape character
}

TEST(PatternMatch, QuestionMarkTakesAWholeCharacter) {
    EXPECT_TRUE(match("?", "\xC3\xA9"));  // é, two bytes
    EXPECT_FALSE(match("??", "\xC3\xA9"));
    EXPECT_TRUE(match("?", "\xFF"));                        // an invalid byte counts as one
    EXPECT_TRUE(match("[\xC3\xA0-\xC3\xBF]", "\xC3\xA9"));  // à-ÿ holds é
}

TEST(PatternMatch, SetsRangesAndNegation) {
    EXPECT_TRUE(match("[abc]", "b"));
    EXPECT_FALSE(match("[abc]", "d"));
    EXPECT_TRUE(match("[a-c]x", "cx"));
    EXPECT_FALSE(match("[a-c]x", "Cx"));
    EXPECT_TRUE(match("[!a-c]", "d"));
    EXPECT_FALSE(match("[!a-c]", "b"));
    EXPECT_FALSE(match("[!a]", ""));
    EXPECT_TRUE(match("[0-9][0-9]", "42"));
    EXPECT_TRUE(match("[^a]", "^"));  // '^' does not negate
}

TEST(PatternMatch, BracketAndDashPlacement) {
    EXPECT_TRUE(match("[]]", "]"));
    EXPECT_TRUE(match("[]a]", "a"));
    EXPECT_FALSE(match("[!]]", "]"));
    EXPECT_TRUE(match("[!]]", "x"));
    EXPECT_TRUE(match("[a-]", "-"));
    EXPECT_TRUE(match("[a-]", "a"));
    EXPECT_FALSE(match("[a-]", "b"));
    EXPECT_TRUE(match("[-a]", "-"));
    EXPECT_FALSE(match("[z-a]", "m"));  // a reversed range holds nothing
    EXPECT_TRUE(match("[*?]", "?"));
    EXPECT_FALSE(match("[*?]", "x"));
    EXPECT_TRUE(match("a]", "a]"));
}

TEST(PatternMatch, DoubleStarSpansDirectoriesOrNone) {
    EXPECT_TRUE(match("a/**/b", "a/b"));
    EXPECT_TRUE(match("a/**/b", "a/x/y/b"));
    EXPECT_FALSE(match("a/**/b", "ab"));
    EXPECT_TRUE(match("**/*.c", "x.c"));
    EXPECT_TRUE(match("**/*.c", "d/e/x.c"));
    EXPECT_TRUE(match("a/**", "a/x/y"));
    EXPECT_TRUE(match("**", "anything/at/all"));
}

// A backtracking matcher would take exponential time here and run into the test timeout.
TEST(PatternMatch, ManyStarsStayFast) {
    const std::string subject(4000, 'a');
    EXPECT_FALSE(match("*a*a*a*a*a*a*a*a*a*a*b", subject));
    EXPECT_TRUE(match("*a*a*a*a*a*a*a*a*a*a*", subject));
}

// A scratch directory that the walk runs in; the current directory is put back afterwards.
class GlobTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        std::mt19937_64 rng(std::random_device{}());
        root_ = fs::temp_directory_path() / ("kiln-glob-" + std::to_string(rng()));
        fs::create_directories(root_);
        fs::current_path(root_);
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        std::error_code ec;
        fs::permissions(root_ / "locked", fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }

    static void touch(const fs::path& path) {
        if (path.has_parent_path()) fs::create_directories(path.parent_path());
        std::ofstream(path).put('x');
    }

    static Paths glob(std::string_view pattern) {
        auto found = glob_paths(pattern);
        EXPECT_TRUE(found.has_value()) << pattern;
        return found ? *found : Paths{};
    }

    fs::path old_cwd_;
    fs::path root_;
};

TEST_F(GlobTest, StarListsDotFilesSortedByBytes) {
    for (const char* name : {"b.txt", "a.txt", ".hidden", "B", "_u", "\xC3\xA9", "z"}) {
        touch(name);
    }
    EXPECT_EQ(glob("*"), (Paths{".hidden", "B", "_u", "a.txt", "b.txt", "z", "\xC3\xA9"}));
    EXPECT_EQ(glob("*.txt"), (Paths{"a.txt", "b.txt"}));
    EXPECT_EQ(glob("*.TXT"), Paths{});
    EXPECT_EQ(glob("[!.]*"), (Paths{"B", "_u", "a.txt", "b.txt", "z", "\xC3\xA9"}));
    EXPECT_EQ(glob("?.txt"), (Paths{"a.txt", "b.txt"}));
}

TEST_F(GlobTest, MalformedPatternsAreReported) {
    touch("a[b");
    EXPECT_FALSE(glob_paths("a[b").has_value());
    EXPECT_FALSE(glob_paths("***").has_value());
    EXPECT_FALSE(glob_paths("x/a**").has_value());
}

TEST_F(GlobTest, DirectoriesAndLiteralComponents) {
    touch("src/a.c");
    touch("src/b.h");
    touch("src/sub/c.c");
    touch("lib/d.c");
    touch("lib/Makefile");
    touch("notadir");
    EXPECT_EQ(glob("src/*.c"), (Paths{"src/a.c"}));
    EXPECT_EQ(glob("*/*.c"), (Paths{"lib/d.c", "src/a.c"}));
    EXPECT_EQ(glob("*/Makefile"), (Paths{"lib/Makefile"}));
    EXPECT_EQ(glob("*/sub/*"), (Paths{"src/sub/c.c"}));
    EXPECT_EQ(glob("missing/*"), Paths{});
    EXPECT_EQ(glob("notadir/*"), Paths{});
    EXPECT_EQ(glob("./src/*.h"), (Paths{"./src/b.h"}));  // kept as typed
    EXPECT_EQ(glob("src//*.h"), (Paths{"src//b.h"}));
    EXPECT_EQ(glob("*/"), (Paths{"lib/", "src/"}));  // a trailing separator keeps directories
    EXPECT_EQ(glob("s*/s*"), (Paths{"src/sub"}));
}

TEST_F(GlobTest, DoubleStarFindsEveryDepthIncludingHere) {
    touch("x");
    touch("a/x");
    touch("a/b/x");
    touch("a/b/y");
    touch("c/d/e/x");
    EXPECT_EQ(glob("**/x"), (Paths{"a/b/x", "a/x", "c/d/e/x", "x"}));
    EXPECT_EQ(glob("a/**/x"), (Paths{"a/b/x", "a/x"}));
    EXPECT_EQ(glob("**/b/*"), (Paths{"a/b/x", "a/b/y"}));
    EXPECT_EQ(glob("a/**"), (Paths{"a/b", "a/b/x", "a/b/y", "a/x"}));
    EXPECT_EQ(glob("**/"), (Paths{"a/", "a/b/", "c/", "c/d/", "c/d/e/"}));
    EXPECT_EQ(glob("**/**/x"), glob("**/x"));
}

TEST_F(GlobTest, PathsReachedTwiceAreListedOnce) {
    touch("a/a/b");
    EXPECT_EQ(glob("**/a/**/b"), (Paths{"a/a/b"}));
}

TEST_F(GlobTest, DoubleStarDoesNotFollowDirectoryLinks) {
    touch("real/f.c");
    fs::create_directory_symlink(root_ / "real", "real/loop");
    fs::create_directory_symlink(root_ / "real", "link");
    // The links themselves are entries, but nothing is found through them.
    EXPECT_EQ(glob("**/*.c"), (Paths{"real/f.c"}));
    EXPECT_EQ(glob("**/l*"), (Paths{"link", "real/loop"}));
    // An ordinary component does go through a link.
    EXPECT_EQ(glob("link/*.c"), (Paths{"link/f.c"}));
    EXPECT_EQ(glob("*/f.c"), (Paths{"link/f.c", "real/f.c"}));
}

TEST_F(GlobTest, AbsolutePatternsStayAbsolute) {
    touch("one.txt");
    const std::string base = root_.string();
    EXPECT_EQ(glob(base + "/*.txt"), (Paths{base + "/one.txt"}));
}

TEST_F(GlobTest, UnreadableDirectoriesAreSkippedSilently) {
    touch("locked/inside.c");
    touch("open/outside.c");
    fs::permissions("locked", fs::perms::none);
    std::error_code ec;
    fs::directory_iterator probe("locked", ec);
    if (!ec) GTEST_SKIP() << "permissions are not enforced (running as root)";
    EXPECT_EQ(glob("**/*.c"), (Paths{"open/outside.c"}));
    EXPECT_EQ(glob("*/*.c"), (Paths{"open/outside.c"}));
}

TEST_F(GlobTest, SetHoldingASeparatorStaysOneComponent) {
    touch("ab");
    touch("a/b");
    EXPECT_EQ(glob("a[!/]"), (Paths{"ab"}));
    EXPECT_EQ(glob("a[/]b"), Paths{});  // a name never holds a separator
}

}  // namespace
}  // namespace kiln
