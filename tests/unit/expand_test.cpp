// Word expansion: the fields of expand_word, the single string of expand_word_single, and the
// dollar forms of expand_params, with a shell state set up by hand.
#include "expand/expand.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using Fields = std::vector<std::string>;

Seg bare(std::string text) {
    return {std::move(text), Quote::None};
}
Seg dq(std::string text) {
    return {std::move(text), Quote::Double};
}
Seg sq(std::string text) {
    return {std::move(text), Quote::Single};
}

class ExpandTest : public ::testing::Test {
protected:
    void set(const std::string& name, std::string value) {
        state_.variables[name] = std::move(value);
    }
    Fields fields(const Word& word) { return expand_word(state_, word); }
    std::string single(const Word& word) { return expand_word_single(state_, word); }
    std::string params(std::string_view text) { return expand_params(state_, text); }

    ShellState state_;
};

TEST_F(ExpandTest, SplittingCutsAtEverySeparator) {
    set("X", "a  b");
    EXPECT_EQ(fields({bare("$X")}), (Fields{"a", "", "b"}));
    EXPECT_EQ(fields({dq("$X")}), (Fields{"a  b"}));
    set("E", " a\t");
    EXPECT_EQ(fields({bare("$E")}), (Fields{"", "a", ""}));
    set("L", "a\nb\rc\fd");
    EXPECT_EQ(fields({bare("$L")}), (Fields{"a", "b", "c", "d"}));
    set("V", "a\vb");  // vertical tab does not split
    EXPECT_EQ(fields({bare("$V")}), (Fields{"a\vb"}));
    set("U",
        "a\xC2\xA0"
        "b");  // nor does a non-ASCII space
    EXPECT_EQ(fields({bare("$U")}), (Fields{"a\xC2\xA0"
                                            "b"}));
}

TEST_F(ExpandTest, EveryWordGivesAtLeastOneField) {
    set("EMPTY", "");
    EXPECT_EQ(fields({bare("$UNSET")}), (Fields{""}));
    EXPECT_EQ(fields({bare("$EMPTY")}), (Fields{""}));
    EXPECT_EQ(fields({sq("")}), (Fields{""}));
    EXPECT_EQ(fields({dq("")}), (Fields{""}));
    EXPECT_EQ(fields({bare("")}), (Fields{""}));
}

TEST_F(ExpandTest, QuotedAndUnquotedPartsJoin) {
    set("A", "v");
    EXPECT_EQ(fields({dq("$A"), bare("x"), sq("$B")}), (Fields{"vx$B"}));
    set("X", "a b");
    EXPECT_EQ(fields({sq("<"), bare("$X"), sq(">")}), (Fields{"<a", "b>"}));
    EXPECT_EQ(fields({dq("$X"), bare("$X"), dq("$X")}), (Fields{"a ba", "ba b"}));
}

TEST_F(ExpandTest, ExpandedTextIsNotScannedAgain) {
    set("X", "$Y");
    set("Y", "no");
    EXPECT_EQ(fields({bare("$X")}), (Fields{"$Y"}));
    set("T", "~");
    EXPECT_EQ(fields({bare("$T")}), (Fields{"~"}));
}

TEST_F(ExpandTest, SingleStringNeverSplits) {
    set("X", " a  b ");
    EXPECT_EQ(single({bare("$X")}), " a  b ");
    EXPECT_EQ(single({bare("$UNSET")}), "");
    EXPECT_EQ(single({sq("$X"), dq("$X")}), "$X a  b ");
}

TEST_F(ExpandTest, DollarFormsOfSpecialParameters) {
    state_.last_status = 3;
    state_.positional = {"p1", "p 2"};
    state_.shell_name = "kiln";
    EXPECT_EQ(params("$?"), "3");
    EXPECT_EQ(params("$$"), std::to_string(platform::process_id()));
    EXPECT_EQ(params("$#"), "2");
    EXPECT_EQ(params("$@|$*"), "p1 p 2|p1 p 2");
    EXPECT_EQ(params("$0"), "kiln");
    EXPECT_EQ(params("$1x"), "p1x");
    EXPECT_EQ(params("$10"), "p10");  // one digit only
    EXPECT_EQ(params("$3x"), "x");
    EXPECT_EQ(params("${2}"), "p 2");
    EXPECT_EQ(params("${?}"), "3");
    state_.positional.assign(12, "p");
    state_.positional[9] = "tenth";
    EXPECT_EQ(params("${10}"), "tenth");
}

TEST_F(ExpandTest, DollarFormsOfNames) {
    set("HOME", "/h");
    set("a_1", "v");
    EXPECT_EQ(params("${HOME}x"), "/hx");
    EXPECT_EQ(params("$HOME/x"), "/h/x");
    EXPECT_EQ(params("$a_1-$a_1b"), "v-");  // the longest run of name characters
    EXPECT_EQ(params("${A:-b}"), "");       // looked up as a name, which has no value
    EXPECT_EQ(params("${a{b}c}"), "");      // braces nest
    EXPECT_EQ(params("${}"), "");
}

TEST_F(ExpandTest, LiteralDollars) {
    EXPECT_EQ(params("$"), "$");
    EXPECT_EQ(params("a$"), "a$");
    EXPECT_EQ(params("$%$-$!$ $/"), "$%$-$!$ $/");
    EXPECT_EQ(params("${"), "${");
    EXPECT_EQ(params("${a"), "${a");
    EXPECT_EQ(params("${a{b}"), "${a{b}");  // the inner } closes only the inner {
    EXPECT_EQ(params("$("), "$(");
    EXPECT_EQ(params("$(echo (x)"), "$(echo (x)");
    set("V", "v");
    EXPECT_EQ(params("${$V"), "${v");  // the scan goes on after the literal $
    EXPECT_EQ(params("$\xC3\xA9"), "$\xC3\xA9");
}

// Tilde expansion reads the profile folder the platform found at start-up; HOME is set to a
// folder name with a blank and a dollar sign while these tests run.
class TildeTest : public ExpandTest {
protected:
    void SetUp() override {
        old_home_ = platform::get_env("HOME");
        ASSERT_TRUE(platform::set_env("HOME", kHome).has_value());
        platform::init(0, nullptr);
        set("HOME", "/not/used");
    }
    void TearDown() override {
        if (old_home_) {
            (void)platform::set_env("HOME", *old_home_);
        } else {
            (void)platform::unset_env("HOME");
        }
        platform::init(0, nullptr);
    }

    static constexpr const char* kHome = "/home/A B$x";
    std::optional<std::string> old_home_;
};

TEST_F(TildeTest, LeadingTildeIsTheProfileFolderWhole) {
    const std::string home = kHome;
    EXPECT_EQ(fields({bare("~")}), (Fields{home}));
    EXPECT_EQ(fields({bare("~/x")}), (Fields{home + "/x"}));
    EXPECT_EQ(fields({bare("~"), sq("/y")}), (Fields{home + "/y"}));
    set("S", "1 2");
    EXPECT_EQ(fields({bare("~/$S")}), (Fields{home + "/1", "2"}));
}

TEST_F(TildeTest, OtherTildesStayAsTyped) {
    EXPECT_EQ(fields({bare("a~")}), (Fields{"a~"}));
    EXPECT_EQ(fields({dq("~")}), (Fields{"~"}));
    EXPECT_EQ(fields({sq(""), bare("~")}), (Fields{"~"}));
    EXPECT_EQ(fields({bare("~user")}), (Fields{"~user"}));
    EXPECT_EQ(fields({bare("~\\dir")}), (Fields{"~\\dir"}));
    EXPECT_EQ(fields({bare("x"), sq("'"), bare("~")}), (Fields{"x'~"}));
}

TEST_F(TildeTest, SingleStringExpandsWhileNothingIsAppended) {
    const std::string home = kHome;
    EXPECT_EQ(single({bare("~/bin")}), home + "/bin");
    EXPECT_EQ(single({sq(""), bare("~")}), home);  // the string is still empty
    EXPECT_EQ(single({sq("a"), bare("~")}), "a~");
    EXPECT_EQ(single({dq("~")}), "~");
}

// Filename patterns in expand_word run in a scratch directory.
class ExpandPatternTest : public ExpandTest {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        std::mt19937_64 rng(std::random_device{}());
        dir_ = fs::temp_directory_path() / ("kiln-expand-" + std::to_string(rng()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        for (const char* name : {"b.txt", "a.txt", ".dot", "xa", "ax1", "zebra", "q"}) {
            std::ofstream(name).put('x');
        }
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    fs::path old_cwd_;
    fs::path dir_;
};

TEST_F(ExpandPatternTest, UnquotedPatternCharactersMatch) {
    EXPECT_EQ(fields({bare("*.txt")}), (Fields{"a.txt", "b.txt"}));
    EXPECT_EQ(fields({bare("*")}), (Fields{".dot", "a.txt", "ax1", "b.txt", "q", "xa", "zebra"}));
    EXPECT_EQ(fields({bare("*.none")}), (Fields{"*.none"}));
    EXPECT_EQ(fields({bare("*.TXT")}), (Fields{"*.TXT"}));
    EXPECT_EQ(fields({bare("[")}), (Fields{"["}));
    EXPECT_EQ(fields({bare("a[b")}), (Fields{"a[b"}));
    EXPECT_EQ(fields({bare("***")}), (Fields{"***"}));
}

TEST_F(ExpandPatternTest, QuotedPatternCharactersAloneDoNotMatch) {
    EXPECT_EQ(fields({dq("*")}), (Fields{"*"}));
    EXPECT_EQ(fields({sq("*.txt")}), (Fields{"*.txt"}));
    // One unquoted pattern character makes the whole field a pattern, quoted star included.
    EXPECT_EQ(fields({dq("*"), bare("x*")}), (Fields{"a.txt", "ax1", "b.txt", "xa"}));
    EXPECT_EQ(fields({bare("b"), sq("."), bare("*")}), (Fields{"b.txt"}));
    EXPECT_EQ(fields({bare("*"), sq("."), bare("txt")}), (Fields{"a.txt", "b.txt"}));
}

TEST_F(ExpandPatternTest, ExpansionResultsDoNotSetTheFlag) {
    set("X", "*");
    EXPECT_EQ(fields({bare("$X")}), (Fields{"*"}));
    EXPECT_EQ(fields({bare("$X.txt")}), (Fields{"*.txt"}));
    // Once the flag is set, expanded characters take part in the match.
    EXPECT_EQ(fields({bare("$X.tx?")}), (Fields{"a.txt", "b.txt"}));
    set("V", "x");
    EXPECT_EQ(fields({bare("$V*")}), (Fields{"xa"}));
}

TEST_F(ExpandPatternTest, OnlyTheFieldOpenBeforeACutCarriesTheFlag) {
    set("W", "a z");
    // "a" was open when the segment began; "z*" starts after the cut and stays literal
    // although "zebra" exists.
    EXPECT_EQ(fields({bare("$W*")}), (Fields{"a", "z*"}));
    EXPECT_EQ(fields({bare("*.t"), sq("x"), bare("t$W")}), (Fields{"*.txta", "z"}));
    set("P", "*.txt b");
    EXPECT_EQ(fields({bare("?"), bare("$P")}), (Fields{"a.txt", "b.txt", "b"}));
}

TEST_F(ExpandTest, CommandSubstitutionSplitsUnlessQuoted) {
    EXPECT_EQ(fields({bare("$(echo a b)")}), (Fields{"a", "b"}));
    EXPECT_EQ(fields({dq("$(echo a b)")}), (Fields{"a b"}));
    EXPECT_EQ(fields({bare("<$(echo x; echo y)>")}), (Fields{"<x", "y>"}));
    // Parentheses nest; quotes inside are the inner command's own business.
    EXPECT_EQ(params("$(echo $(echo 'in ner'))"), "in ner");
}

TEST_F(ExpandTest, CommandSubstitutionDropsOnlyTrailingLineFeeds) {
    EXPECT_EQ(params("[$(printf 'a\\n\\nb\\n\\n\\n')]"), "[a\n\nb]");
    // A carriage return stays, and in an unquoted word it cuts an empty last field.
    EXPECT_EQ(params("$(printf 'a\\r\\n')"), "a\r");
    EXPECT_EQ(fields({bare("$(printf 'a\\r\\n')")}), (Fields{"a", ""}));
    EXPECT_EQ(params("[$(true)]"), "[]");
}

TEST_F(ExpandTest, CommandSubstitutionRunsInThisShell) {
    EXPECT_EQ(params("$(X=5)$X"), "5");
    EXPECT_EQ(params("$(false)$?"), "1");
    EXPECT_EQ(params("$(f() { echo fn; })$(f)"), "fn");
}

TEST_F(ExpandTest, CommandSubstitutionSyntaxErrorIsReportedAndEmpty) {
    state_.last_status = 7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(fields({bare("a$(echo 'x)b")}), (Fields{"ab"}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kiln: unterminated single quote\n");
    EXPECT_EQ(state_.last_status, 7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(params("[$(echo ;;)]"), "[]");
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(message.starts_with("kiln: ") && message.ends_with("\n")) << message;
}

TEST_F(ExpandPatternTest, CommandSubstitutionOutputIsDecodedAsUtf8) {
    std::ofstream("bad") << "a\xFF\xC3"
                         << "b\n";
    EXPECT_EQ(params("$(cat bad)"),
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
}

}  // namespace
}  // namespace kiln
