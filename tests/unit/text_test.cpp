// UTF-8 repair, Unicode white space and the strict number parsers.
#include "common/text.hpp"

#include <gtest/gtest.h>

namespace kiln {
namespace {

TEST(Text, Utf8AndWhiteSpace) {
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(to_valid_utf8("a\xff"
                            "b\xC3"),
              "a" + bad + "b" + bad);
    EXPECT_EQ(to_valid_utf8("\xE0\x80\x80"), bad + bad + bad);  // overlong
    EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), bad + bad + bad);  // surrogate
    EXPECT_EQ(to_valid_utf8("h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80\xDF\xBF"));
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("12345678\xFF"));      // after a run of eight ASCII bytes
    EXPECT_FALSE(is_valid_utf8("1234567\xC3\xA9\xFF"));
    EXPECT_FALSE(is_valid_utf8("\xC1\xBF"));
    for (const char32_t cp : {U'\u00A0', U'\u3000', U'\u200A', U'\u2028'})
        EXPECT_TRUE(is_unicode_space(cp)) << static_cast<unsigned>(cp);
    EXPECT_FALSE(is_unicode_space(U'\u200B'));
    for (const char32_t cp : {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}) {
        std::string out;
        append_utf8(out, cp);
        const Decoded d = decode_utf8(out, 0);
        EXPECT_TRUE(d.cp == cp && d.len == out.size()) << static_cast<unsigned>(cp);
    }
    EXPECT_EQ(trim_unicode_space("\u00A0 a b\t\u3000"), "a b");
    EXPECT_EQ(trim_unicode_space(" \t "), "");
}

TEST(Text, StrictDecimalParsing) {
    EXPECT_EQ(parse_int32("+7"), 7);
    EXPECT_EQ(parse_int32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parse_int32("2147483647"), INT32_MAX);
    for (const char* bad : {"2147483648", "-2147483649", "99999999999", " 5", "-", "", "1x"})
        EXPECT_EQ(parse_int32(bad), std::nullopt) << bad;
    EXPECT_EQ(parse_int64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parse_int64("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parse_uint32("+0"), 0u);
    EXPECT_EQ(parse_uint32("4294967295"), 4294967295u);
    EXPECT_EQ(parse_uint32("-1"), std::nullopt);
    EXPECT_EQ(parse_uint32("4294967296"), std::nullopt);
}

}  // namespace
}  // namespace kiln
