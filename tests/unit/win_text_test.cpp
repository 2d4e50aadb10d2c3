// Windows text and path rules: UTF-8 and UTF-16, drive and share prefixes, joining and
// normalizing with backslashes, PATH and PATHEXT lists.
#include "platform/win_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiln::platform::win {
namespace {

constexpr char16_t kBad = 0xFFFD;

TEST(WinText, Utf8BecomesUtf16) {
    EXPECT_EQ(to_utf16("a\xC3\xA9\xE2\x82\xAC"), (std::u16string{u'a', 0xE9, 0x20AC}));
    EXPECT_EQ(to_utf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(to_utf16(std::string("a\0b", 3)), (std::u16string{u'a', 0, u'b'}));
    EXPECT_EQ(to_utf16(""), u"");
}

// What reaches the console: every invalid sequence shows as one U+FFFD and the text after it
// is all still there.
TEST(WinText, EachInvalidSequenceBecomesOneReplacement) {
    EXPECT_EQ(to_utf16("a\xFF"
                       "b"),
              (std::u16string{u'a', kBad, u'b'}));
    EXPECT_EQ(to_utf16("\x80\x80x"), (std::u16string{kBad, kBad, u'x'}));
    // A sequence cut short: one replacement for the bytes it had.
    EXPECT_EQ(to_utf16("\xE2\x82"
                       "A"),
              (std::u16string{kBad, u'A'}));
    EXPECT_EQ(to_utf16("x\xF0\x9F\x98"), (std::u16string{u'x', kBad}));
    EXPECT_EQ(to_utf16("\xF0\x9F\x98\xE2\x82\xAC"), (std::u16string{kBad, 0x20AC}));
    // Overlong forms, encoded surrogates and code points past U+10FFFF fail at their second
    // byte, which is then judged on its own.
    EXPECT_EQ(to_utf16("\xC0\xAF"), (std::u16string{kBad, kBad}));
    EXPECT_EQ(to_utf16("\xE0\x80\x80"), (std::u16string{kBad, kBad, kBad}));
    EXPECT_EQ(to_utf16("\xED\xA0\x80"), (std::u16string{kBad, kBad, kBad}));
    EXPECT_EQ(to_utf16("\xF4\x90\x80\x80"), (std::u16string{kBad, kBad, kBad, kBad}));
    EXPECT_EQ(to_utf16("\xF5z"), (std::u16string{kBad, u'z'}));
    // A bad byte before NUL does not swallow it.
    EXPECT_EQ(to_utf16(std::string("\x80\0", 2)), (std::u16string{kBad, 0}));

    std::string long_text(10000, 'x');
    long_text[17] = '\xC3';
    const std::u16string out = to_utf16(long_text);
    ASSERT_EQ(out.size(), long_text.size());
    EXPECT_EQ(out[17], kBad);
    EXPECT_EQ(out.back(), u'x');
}

TEST(WinText, Utf16BecomesUtf8AndReportsLoneSurrogates) {
    bool valid = false;
    EXPECT_EQ(to_utf8(std::u16string{u'a', 0xD83D, 0xDE00}, &valid), "a\xF0\x9F\x98\x80");
    EXPECT_TRUE(valid);
    EXPECT_EQ(to_utf8(std::u16string{0xDE00, u'b', 0xD83D}, &valid),
              "\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_FALSE(valid);
}

TEST(WinPaths, PrefixesAndRoots) {
    EXPECT_EQ(prefix_length("C:\\x"), 2u);
    EXPECT_EQ(prefix_length("c:x"), 2u);
    EXPECT_EQ(prefix_length("\\x"), 0u);
    EXPECT_EQ(prefix_length("1:\\x"), 0u);
    EXPECT_EQ(prefix_length("\\\\server\\share\\x"), 14u);
    EXPECT_EQ(prefix_length("//server/share"), 14u);
    EXPECT_EQ(prefix_length("\\\\?\\C:\\x"), 6u);
    EXPECT_EQ(prefix_length("\\\\?\\UNC\\srv\\sh\\x"), 14u);
    EXPECT_EQ(prefix_length("\\\\.\\pipe\\x"), 8u);

    EXPECT_TRUE(is_absolute("C:\\x"));
    EXPECT_TRUE(is_absolute("C:/"));
    EXPECT_TRUE(is_absolute("\\\\server\\share"));
    EXPECT_FALSE(is_absolute("C:x"));
    EXPECT_FALSE(is_absolute("\\x"));
    EXPECT_FALSE(is_absolute("/x"));
    EXPECT_FALSE(is_absolute("x"));
}

TEST(WinPaths, NormalizeJoinsWithBackslashesAndStopsAtTheRoot) {
    EXPECT_EQ(normalize_path("C:/windows/./system32/.."), "C:\\windows");
    EXPECT_EQ(normalize_path("C:\\..\\..\\x\\..\\"), "C:\\");
    EXPECT_EQ(normalize_path("C:\\x\\a/./b/../c"), "C:\\x\\a\\c");
    EXPECT_EQ(normalize_path("C:a\\..\\.."), "C:");
    EXPECT_EQ(normalize_path("\\\\srv\\sh\\a\\..\\.."), "\\\\srv\\sh\\");
    EXPECT_EQ(normalize_path("//srv/sh/a//b"), "//srv/sh\\a\\b");
    EXPECT_EQ(normalize_path("a\\..\\..\\b"), "b");
    EXPECT_EQ(normalize_path("\\x\\.."), "\\");
}

TEST(WinPaths, JoinKeepsOrReplacesThePrefix) {
    EXPECT_EQ(join_path("C:\\x", "y"), "C:\\x\\y");
    EXPECT_EQ(join_path("C:\\x\\", "y"), "C:\\x\\y");
    EXPECT_EQ(join_path("C:\\", "y"), "C:\\y");
    EXPECT_EQ(join_path("C:", "y"), "C:y");
    EXPECT_EQ(join_path("C:\\x", "\\y"), "C:\\y");
    EXPECT_EQ(join_path("C:\\x", "/y"), "C:/y");
    EXPECT_EQ(join_path("C:\\x", "D:y"), "D:y");
    EXPECT_EQ(join_path("C:\\x", "D:\\y"), "D:\\y");
    EXPECT_EQ(join_path("\\\\srv\\sh", "y"), "\\\\srv\\sh\\y");
    EXPECT_EQ(join_path("\\\\srv\\sh\\a", "\\y"), "\\\\srv\\sh\\y");
}

TEST(WinPaths, PathListsAndExtensions) {
    using List = std::vector<std::string>;
    EXPECT_EQ(split_path_list("C:\\a;\"C:\\b;c\";;D:\\"), (List{"C:\\a", "C:\\b;c", "", "D:\\"}));
    EXPECT_EQ(split_path_list("C:\\Program Files\\x"), (List{"C:\\Program Files\\x"}));
    EXPECT_EQ(split_pathext(".COM;.EXE;"), (List{".COM", ".EXE", ""}));
    EXPECT_EQ(split_pathext(";.Exe"), (List{"", ".Exe"}));
    EXPECT_EQ(split_pathext(kDefaultPathext), (List{".EXE", ".BAT", ".CMD", ".COM"}));

    EXPECT_TRUE(is_batch_file("C:\\x\\Run.BaT"));
    EXPECT_TRUE(is_batch_file("run.cmd"));
    EXPECT_FALSE(is_batch_file("run.bat.exe"));
    EXPECT_FALSE(is_batch_file("bat"));
    EXPECT_TRUE(ends_with_nocase("NOTEPAD.exe", ".EXE"));
    EXPECT_FALSE(ends_with_nocase("exe", ".exe"));
}

}  // namespace
}  // namespace kiln::platform::win
