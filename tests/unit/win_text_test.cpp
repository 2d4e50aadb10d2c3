// Windows text and path rules: UTF-8 and UTF-16, drive and share prefixes, joining and
// normalizing with backslashes, PATH and PATHEXT lists.
#include "platform/win_text.hpp"

#include <gtest/gtest.h>

namespace kiln::platform::win {
namespace {

constexpr char16_t kBad = 0xFFFD;
using List = std::vector<std::string>;

// What reaches the console: each invalid sequence shows as one U+FFFD, the rest stays.
TEST(WinText, Utf8AndUtf16) {
    static const struct {
        std::string_view utf8;
        std::u16string utf16;
    } cases[] = {
        {"a\xC3\xA9\xE2\x82\xAC", {u'a', 0xE9, 0x20AC}},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
        {std::string_view("a\0b\x80\0", 5), {u'a', 0, u'b', kBad, 0}},
        {"a\xFF\x80\x80x", {u'a', kBad, kBad, kBad, u'x'}},
        {"\xE2\x82"
         "A x\xF0\x9F\x98",
         {kBad, u'A', u' ', u'x', kBad}},  // cut short: one each
        {"\xF0\x9F\x98\xE2\x82\xAC", {kBad, 0x20AC}},
        // overlong forms, surrogates and code points past U+10FFFF fail at their second byte
        {"\xC0\xAF\xE0\x80\x80", {kBad, kBad, kBad, kBad, kBad}},
        {"\xED\xA0\x80\xF4\x90\x80\x80\xF5z",
         {kBad, kBad, kBad, kBad, kBad, kBad, kBad, kBad, u'z'}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_utf16(c.utf8), c.utf16) << ::testing::PrintToString(std::string(c.utf8));
    std::string long_text(10000, 'x');
    long_text[17] = '\xC3';
    const std::u16string out = to_utf16(long_text);
    EXPECT_TRUE(out.size() == long_text.size() && out[17] == kBad && out.back() == u'x');
    bool valid = false;
    EXPECT_EQ(to_utf8(std::u16string{u'a', 0xD83D, 0xDE00}, &valid), "a\xF0\x9F\x98\x80");
    EXPECT_TRUE(valid);
    EXPECT_EQ(to_utf8(std::u16string{0xDE00, u'b', 0xD83D}, &valid),
              "\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_FALSE(valid);
    // A console write of at most 4 units leaves a pair whole for the next one.
    const std::u16string pairs = {u'a', u'b', u'c', 0xD83D, 0xDE00, u'd'};
    EXPECT_EQ(console_chunk(pairs, 4), 3u);
    EXPECT_EQ(console_chunk(std::u16string_view(pairs).substr(3), 4), 3u);
    EXPECT_EQ(console_chunk(std::u16string_view(pairs).substr(1), 4), 4u);
}

// Prefixes the shell cannot meet through a drive letter, and the joins and normalizations
// that keep or replace them.
TEST(WinPaths, PrefixesJoinAndNormalize) {
    for (const auto& [path, length] : {std::pair<std::string_view, std::size_t>{"c:x", 2},
                                       {"1:\\x", 0},
                                       {"\\\\srv\\share\\x", 11},
                                       {"//srv/share", 11},
                                       {"\\\\?\\C:\\x", 6},
                                       {"\\\\?\\UNC\\srv\\sh\\x", 14},
                                       {"\\\\.\\pipe\\x", 8}})
        EXPECT_EQ(prefix_length(path), length) << path;
    EXPECT_TRUE(is_absolute("C:/") && is_absolute("\\\\srv\\share"));
    EXPECT_FALSE(is_absolute("C:x") || is_absolute("\\x") || is_absolute("/x"));
    EXPECT_EQ(normalize_path("C:\\..\\..\\x\\..\\"), "C:\\");
    EXPECT_EQ(normalize_path("C:a\\..\\.."), "C:");
    EXPECT_EQ(normalize_path("\\\\srv\\sh\\a\\..\\.."), "\\\\srv\\sh\\");
    EXPECT_EQ(normalize_path("//srv/sh/a//b"), "//srv/sh\\a\\b");
    EXPECT_EQ(normalize_path("a\\..\\..\\b"), "b");
    EXPECT_EQ(join_path("C:", "y"), "C:y");
    EXPECT_EQ(join_path("C:\\x", "/y"), "C:/y");
    EXPECT_EQ(join_path("\\\\srv\\sh", "y"), "\\\\srv\\sh\\y");
    EXPECT_EQ(join_path("\\\\srv\\sh\\a", "\\y"), "\\\\srv\\sh\\y");
    EXPECT_EQ(split_path_list("C:\\a;\"C:\\b;c\";;D:\\"), (List{"C:\\a", "C:\\b;c", "", "D:\\"}));
    // Long paths: the verbatim form for absolute ones, devices by their plain names.
    EXPECT_EQ(extended_path("C:/a/./b/../c"), "\\\\?\\C:\\a\\c");
    EXPECT_EQ(extended_path("//srv/sh/a"), "\\\\?\\UNC\\srv\\sh\\a");
    EXPECT_EQ(extended_path("\\\\?\\C:\\x\\..") + extended_path("a\\b"), "\\\\?\\C:\\x\\..a\\b");
    // A bare drive is that drive's current directory: the shell's own when it is there, else
    // the one the environment keeps for the drive, else its root.
    EXPECT_EQ(relative_drive("c:x"), 'c');
    EXPECT_FALSE(relative_drive("C:\\x") || relative_drive("x") || relative_drive("\\\\s\\h"));
    EXPECT_EQ(drive_directory('c', "C:\\a", "C:\\b"), "C:\\a");
    EXPECT_EQ(drive_directory('D', "C:\\a", "d:\\b"), "d:\\b");
    for (std::string_view kept : {"", "D:b", "E:\\b"})
        EXPECT_EQ(drive_directory('d', "C:\\a", kept), "D:\\") << kept;
    EXPECT_EQ(drive_variable('c'), "=C:");
    for (std::string_view device : {"NUL", "nul.txt", "C:\\x\\Com1", "lpt9 .log", "con"})
        EXPECT_TRUE(is_device_name(device)) << device;
    for (std::string_view file : {"null", "nul\\x", "com0", "xnul", "C:\\lpt"})
        EXPECT_FALSE(is_device_name(file)) << file;
}

}  // namespace
}  // namespace kiln::platform::win
