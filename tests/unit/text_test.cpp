// UTF-8 decoding, white space and the strict number parsers.
#include "common/text.hpp"

#include <gtest/gtest.h>

namespace kiln {
namespace {

TEST(Text, InvalidSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(to_valid_utf8("a\xff"
                            "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(to_valid_utf8("\xC3"), "\xEF\xBF\xBD");  // truncated sequence
    EXPECT_EQ(to_valid_utf8("\xE0\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(to_valid_utf8("\xED\xA0\x80").find("\xED"), std::string::npos);          // surrogate
    EXPECT_EQ(to_valid_utf8("h\xC3\xA9"), "h\xC3\xA9");
    EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("12345678\xFF"));      // after a run of eight ASCII bytes
    EXPECT_FALSE(is_valid_utf8("1234567\xC3\xA9\xFF"));
}

TEST(Text, UnicodeWhiteSpace) {
    EXPECT_TRUE(is_unicode_space(U'\u00A0'));
    EXPECT_TRUE(is_unicode_space(U'\u3000'));
    EXPECT_TRUE(is_unicode_space(U'\u200A'));
    EXPECT_FALSE(is_unicode_space(U'\u200B'));
    EXPECT_EQ(trim_unicode_space("\u00A0 a b\t\u3000"), "a b");
    EXPECT_EQ(trim_unicode_space(" \t "), "");
}

TEST(Text, StrictDecimalParsing) {
    EXPECT_EQ(parse_int32("+7"), 7);
    EXPECT_EQ(parse_int32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parse_int32("2147483648"), std::nullopt);
    EXPECT_EQ(parse_int32("99999999999"), std::nullopt);
    EXPECT_EQ(parse_int32(" 5"), std::nullopt);
    EXPECT_EQ(parse_int32("-"), std::nullopt);
    EXPECT_EQ(parse_int32(""), std::nullopt);
    EXPECT_EQ(parse_int64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parse_int64("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parse_uint32("+0"), 0u);
    EXPECT_EQ(parse_uint32("-1"), std::nullopt);
    EXPECT_EQ(parse_uint32("4294967295"), 4294967295u);
    EXPECT_EQ(parse_uint32("4294967296"), std::nullopt);
}

}  // namespace
}  // namespace kiln
