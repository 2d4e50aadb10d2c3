// Filename patterns: compilation, whole-string matching and the walk of the file system.
#include "expand/pattern.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "expand/glob.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

TEST(Pattern, CompileAndMatch) {
    for (const char* bad : {"[", "a[b", "[!", "[]", "[!]", "[a-", "x/[ab/y", "***", "a**", "**b",
                            "a/**b", "x/***/y", "****"})
        EXPECT_FALSE(Pattern::compile(bad).has_value()) << bad;
    // "pattern subject": ? and sets take a whole character, an invalid byte counting as one;
    // ** spans whole directories or none.
    const auto check = [](std::string_view c, bool matches) {
        auto p = Pattern::compile(c.substr(0, c.find(' ')));
        ASSERT_TRUE(p.has_value()) << c;
        EXPECT_EQ(p->matches(c.substr(c.find(' ') + 1)), matches) << c;
    };
    for (const std::string_view c :
         {" ", "* ", "a?c abc", "a* a", "*a*b* xxaxxbxx", "?hidden .hidden", "a*c a/b/c",
          "a[/]c a/c", "a\\b a\\b", "a/**/b a/b", "a/**/b a/x/y/b", "**/*.c x.c", "**/*.c d/e/x.c",
          "a/** a/x/y", "** any/th/ing", "*ab aab", "a*b?c abxbyc"})
        check(c, true);
    for (const std::string_view c :
         {"? \xC3\xA9", "? \xFF", "[\xC3\xA0-\xC3\xBF] \xC3\xA9", "[a-c]x cx", "[!a-c] d", "[^a] ^",
          "[]a] a", "[!]] x", "[a-] -", "[-a] -", "[*?] ?", "a] a]", "[a-c]] b]"})
        check(c, true);
    for (const std::string_view c :
         {" a", "a?c ac", "a?c abcd", "*.txt n.txt.bak", "*a*b* xbxa", "*.TXT a.txt", "?? \xC3\xA9",
          "[abc] d", "[a-c]x Cx", "[!a-c] b", "[!a] ", "[!]] ]", "[a-] b", "[z-a] m", "[*?] x",
          "a/**/b ab", "*?\xC3\xA9 \xC3\xA9"})
        check(c, false);
    // A backtracking matcher would take exponential time here and run into the test timeout.
    const std::string as(4000, 'a');
    EXPECT_FALSE(Pattern::compile("*a*a*a*a*a*a*a*a*a*a*b")->matches(as));
    EXPECT_TRUE(Pattern::compile("*a*a*a*a*a*a*a*a*a*a*")->matches(as));
}

TEST(Pattern, Glob) {
    const fs::path old_cwd = fs::current_path();
    std::string dir = (fs::temp_directory_path() / "kiln-glob-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    fs::current_path(dir);
    for (const char* name : {"x", "ab", "a/x", "a/b/x", "a/b/y", "a/a/b", "c/d/e/x", "real/f.c",
                             "locked/in.c", "c:d"}) {
        if (fs::path(name).has_parent_path()) fs::create_directories(fs::path(name).parent_path());
        std::ofstream(name).put('x');
    }
    fs::create_directory_symlink(fs::path(dir) / "real", "real/loop");
    fs::permissions("locked", fs::perms::none);
    std::error_code denied;
    fs::directory_iterator probe("locked", denied);  // not denied when running as root
    const auto glob = [](std::string_view pattern) {
        auto found = glob_paths(pattern);
        return found ? *found : Paths{"<error>"};
    };
    EXPECT_EQ(glob("**/x"), (Paths{"a/b/x", "a/x", "c/d/e/x", "x"}));
    EXPECT_EQ(glob("a/**/x"), (Paths{"a/b/x", "a/x"}));
    EXPECT_EQ(glob("**/b/*"), (Paths{"a/b/x", "a/b/y"}));
    EXPECT_EQ(glob("a/**"), (Paths{"a/a", "a/a/b", "a/b", "a/b/x", "a/b/y", "a/x"}));
    EXPECT_EQ(glob("**/a/**/b"), (Paths{"a/a/b", "a/b"}));  // a/a/b reached twice, listed once
    EXPECT_EQ(glob("c/**/"), (Paths{"c/d/", "c/d/e/"}));
    EXPECT_EQ(glob("**/**/x"), glob("**/x"));
    EXPECT_EQ(glob("r*/**/*.c"), (Paths{"real/f.c"}));  // a double star follows no link
    EXPECT_EQ(glob("real/l*/*.c"), (Paths{"real/loop/f.c"}));
    EXPECT_EQ(glob("./a/*"), (Paths{"./a/a", "./a/b", "./a/x"}));  // kept as typed
    EXPECT_EQ(glob("x/*"), Paths{});
    EXPECT_EQ(glob("c:*"), Paths{"c:d"});  // a drive prefix only where backslashes separate
    EXPECT_EQ(glob("a[!/]"), (Paths{"ab"}));
    EXPECT_EQ(glob("a[/]b"), Paths{});  // a name never holds a separator
    EXPECT_EQ(glob("a/**b"), Paths{"<error>"});
    if (denied) {  // an unreadable directory is skipped silently
        EXPECT_EQ(glob("lo*/*.c"), Paths{});
    }
    fs::permissions("locked", fs::perms::owner_all);
    fs::current_path(old_cwd);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kiln
