// Word expansion: the fields of expand_word, the one string of expand_word_single and the
// dollar forms of expand_params, in a scratch directory with a home folder of an odd name.
#include "expand/expand.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "parser/parser.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHome = "/home/A B$x";

class Expand : public ::testing::Test {
protected:
    void SetUp() override {
        old_home_ = platform::get_env("HOME");
        ASSERT_TRUE(platform::set_env("HOME", kHome).has_value());
        ASSERT_EQ(platform::get_env("HOME"), kHome);
        platform::init(0, nullptr);  // the platform reads the home folder at start-up
        old_cwd_ = fs::current_path();
        std::string dir = (fs::temp_directory_path() / "kiln-expand-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        fs::current_path(dir_);
        for (const char* name : {"b.txt", "a.txt", ".dot", "xa", "ax1", "zebra", "q"})
            std::ofstream(name).put('x');
        state_.variables = {{"X", "a  b"}, {"E", " a\t"},         {"L", "a\nb\rc\fd"},
                            {"V", "a\vb"}, {"U", "a\u00A0b"},     {"S", "1 2"},
                            {"W", "a z"},  {"P", "*.txt b"},      {"STAR", "*"},
                            {"EMPTY", ""}, {"HOME", "/not/used"}, {"a_1", "v"}};
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
        if (old_home_) (void)platform::set_env("HOME", *old_home_);
        platform::init(0, nullptr);
    }

    // The words of `text` as a command's words, expanded to fields written as "[f1][f2]".
    std::string fields(std::string_view text) {
        std::string out;
        const auto tree = parse_text(text);
        const WordList words = as<Simple>(tree->root)->words;
        for (const Word& word : words)
            for (const std::string& f : expand_word(state_, word))
                out += "[" + f + "]";
        return out;
    }

    ShellState state_;
    std::optional<std::string> old_home_;
    fs::path old_cwd_, dir_;
};

TEST_F(Expand, Fields) {
    const std::string home = kHome;
    static const struct {
        std::string_view word;
        std::string expected;
    } cases[] = {
        // splitting cuts at every blank, tab, line feed, carriage return and form feed
        {"$X", "[a][][b]"},
        {"$E", "[][a][]"},
        {"$L", "[a][b][c][d]"},
        {"$V$U", "[a\vba\u00A0b]"},  // not at a vertical tab or a non-ASCII space
        {"\"$X\"$X\"$X\"", "[a  ba][][ba  b]"},
        {"'<'$S'>'", "[<1][2>]"},
        // every word gives at least one field, and expanded text is not scanned again
        {"$EMPTY''", "[]"},
        {"$STAR", "[*]"},
        // a leading bare tilde is the home folder whole; other tildes stay
        {"~/$S", "[" + home + "/1][2]"},
        {"~'/y'", "[" + home + "/y]"},
        {"''~ a~ \"~\" ~user ~\\dir", "[~][a~][~][~user][~\\dir]"},
        // one unquoted pattern character makes the field a pattern, quoted stars included
        {"\"*\"x*", "[a.txt][ax1][b.txt][xa]"},
        {"b'.'*", "[b.txt]"},
        {"'*.txt' *.none *.TXT [ a[b ***", "[*.txt][*.none][*.TXT][[][a[b][***]"},
        {"$STAR.txt", "[*.txt]"},
        {"$STAR.tx?", "[a.txt][b.txt]"},
        // only the field open before a cut carries the flag
        {"$W*", "[a][z*]"},
        {"*.t'x't$W", "[*.txta][z]"},
        {"?$P", "[a.txt][b.txt][b]"},
        // command substitution: split unless quoted; only trailing line feeds go
        {"'<'$(echo x; echo y)'>'", "[<x][y>]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fields(c.word), c.expected) << "word: " << c.word;
}

TEST_F(Expand, SingleStringAndDollarForms) {
    const std::string home = kHome;
    const auto single = [&](std::string_view text) {
        return expand_word_single(state_, as<Simple>(parse_text(text)->root)->words[0]);
    };
    EXPECT_EQ(single("$X'$X'"), "a  b$X");
    EXPECT_EQ(single("~/bin"), home + "/bin");
    EXPECT_EQ(single("''~"), home);  // the string is still empty
    EXPECT_EQ(single("'a'~"), "a~");
    static const struct {
        std::string_view text, expected;
    } cases[] = {
        {"$a_1-$a_1b", "v-"},  // the longest run of name characters
        {"${a{b}c}|${}|${A:-b}", "||"},
        {"${a{b}|$(echo (x)", "${a{b}|$(echo (x)"},
        {"${$a_1|$\xC3\xA9", "${v|$\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand_params(state_, c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace kiln
