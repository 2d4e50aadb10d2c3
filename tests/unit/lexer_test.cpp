// The lexer: token lists compared through their debug rendering, quote removal, descriptor
// prefixes, braces, comments, errors, and input that is huge, binary or not valid UTF-8.
#include "lexer/lexer.hpp"

#include <gtest/gtest.h>

#include <initializer_list>

namespace kiln {
namespace {

// The token list as one string, tokens separated by " | ", or "error: {message}".
std::string lex(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) return "error: " + tokens.error();
    std::string out;
    for (const Token& t : *tokens) {
        if (!out.empty()) out += " | ";
        out += render_token(t);
    }
    return out;
}

std::string seg(std::string_view text, std::string_view quote) {
    return "Seg { text: \"" + std::string(text) + "\", quote: " + std::string(quote) + " }";
}
std::string N(std::string_view text) {
    return seg(text, "None");
}
std::string S(std::string_view text) {
    return seg(text, "Single");
}
std::string D(std::string_view text) {
    return seg(text, "Double");
}

std::string W(std::initializer_list<std::string> segs) {
    std::string out = "Word([";
    for (const std::string& s : segs) {
        if (out.size() > 6) out += ", ";
        out += s;
    }
    return out + "])";
}
std::string W(std::string_view plain) {
    return W({N(plain)});
}

std::string R(std::string_view fd, std::string_view op) {
    return "Redir { fd: " + std::string(fd) + ", op: " + std::string(op) + " }";
}

struct Case {
    std::string_view input;
    std::string expected;
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(lex(c.input), c.expected) << "input: " << c.input;
}

TEST(Lexer, RendersTokensExactly) {
    EXPECT_EQ(lex("ls"), "Word([Seg { text: \"ls\", quote: None }])");
    EXPECT_EQ(lex("2>>f"),
              "Redir { fd: Some(2), op: Append } | Word([Seg { text: \"f\", "
              "quote: None }])");
    EXPECT_EQ(lex("a'b'\"c\""),
              "Word([Seg { text: \"a\", quote: None }, Seg { text: \"b\", "
              "quote: Single }, Seg { text: \"c\", quote: Double }])");
    EXPECT_EQ(lex("| ; ;; & && || ( ) { } \n <"),
              "Pipe | Semi | DSemi | Amp | AndAnd | OrOr | LParen | RParen | LBrace | RBrace | "
              "Newline | Redir { fd: None, op: In }");
    Token rparen = tok::RParen{};
    EXPECT_EQ(render_optional_token(&rparen), "Some(RParen)");
    EXPECT_EQ(render_optional_token(nullptr), "None");
}

TEST(Lexer, RenderingEscapesUnprintableCharacters) {
    check({
        {"'a\\b\"c'", W({S("a\\\\b\\\"c")})},
        {"'\t\r\n'", W({S("\\t\\r\\n")})},
        {std::string_view("'\0'", 3), W({S("\\0")})},
        {"'\x01\x1b\x7f'", W({S("\\u{1}\\u{1b}\\u{7f}")})},
        {"'\xC2\x85'", W({S("\\u{85}")})},                             // C1 control
        {"'e\xCC\x81'", W({S("e\\u{301}")})},                          // combining acute accent
        {"'\xE2\x80\x8B\xEF\xBB\xBF'", W({S("\\u{200b}\\u{feff}")})},  // format characters
        {"'\xC2\xA0'", W({S("\\u{a0}")})},                             // no-break space
        {"'\xEF\xBF\xBD \xC3\xA9 \xF0\x9F\x98\x80 it''s'", W({S("\xEF\xBF\xBD \xC3\xA9 "
                                                                "\xF0\x9F\x98\x80 it"),
                                                              S("s")})},
        {"'\xEF\xBF\xBE\xEE\x80\x80'", W({S("\\u{fffe}\\u{e000}")})},  // noncharacter, private use
        {"'\xff'", W({S("\xEF\xBF\xBD")})},  // an invalid byte shows as U+FFFD
    });
}

TEST(Lexer, SeparatorsAndOperators) {
    check({
        {"", ""},
        {"   # just a comment", ""},
        {"echo a;b", W("echo") + " | " + W("a") + " | Semi | " + W("b")},
        {"a;;b", W("a") + " | DSemi | " + W("b")},
        {"a ; ; b", W("a") + " | Semi | Semi | " + W("b")},
        {"a|b||c&d&&e", W("a") + " | Pipe | " + W("b") + " | OrOr | " + W("c") + " | Amp | " +
                            W("d") + " | AndAnd | " + W("e")},
        {"a(b)", W("a") + " | LParen | " + W("b") + " | RParen"},
        {"a\n", W("a") + " | Newline"},
        {"a\r\nb\r\n", W("a") + " | Newline | " + W("b") + " | Newline"},
        {"a\fb\vc", W("a\\u{c}b\\u{b}c")},  // form feed and vertical tab are part of a word
        {"!%=]`~x", W("!%=]`~x")},
        {"echo a # c\nb", W("echo") + " | " + W("a") + " | Newline | " + W("b")},
        {"a#b ''#x", W("a#b") + " | " + W({S(""), N("#x")})},
    });
}

TEST(Lexer, Quotes) {
    check({
        {"''", W({S("")})},
        {"\"\"", W({D("")})},
        {"a\"b c\"'d'", W({N("a"), D("b c"), S("d")})},
        {"\"a\\\"b\"", W({D("a\\\"b")})},
        {"\"a\\qb\"", W({D("a\\\\qb")})},
        {"\"\\\\ \\` \\\n\"", W({D("\\\\ ` \\\\\\n")})},  // backslash before a line feed stays
        {"'a\\'", W({S("a\\\\")})},
        {"'$x' \"$x\"", W({S("$x")}) + " | " + W({D("$x")})},
        {"\"a\rb\"", W({D("a\\rb")})},
        {"'", "error: unterminated single quote"},
        {"echo 'abc", "error: unterminated single quote"},
        {"\"", "error: unterminated double quote"},
        {"echo \"ab\\\"", "error: unterminated double quote"},
        {"echo \"ok\" 'no", "error: unterminated single quote"},
    });
}

// An escaped dollar sign inside double quotes must stay literal, so it travels in a Single
// segment between the Double parts around it.
TEST(Lexer, EscapedDollarInDoubleQuotesStaysLiteral) {
    check({
        {"\"\\$HOME\"", W({S("$"), D("HOME")})},
        {"\"a\\$b\"", W({D("a"), S("$"), D("b")})},
        {"\"\\$\"", W({S("$")})},
        {"\"$x\\$\\$\"", W({D("$x"), S("$"), S("$")})},
        {"x\"\\$(ls)\"", W({N("x"), S("$"), D("(ls)")})},
    });
}

TEST(Lexer, BackslashOutsideQuotes) {
    check({
        {"\\*", W({S("*")})},
        {"a\\ b", W({N("a"), S(" "), N("b")})},
        {"\\a", W("\\\\a")},
        {"\\n", W("\\\\n")},
        {"C:\\Users\\me", W("C:\\\\Users\\\\me")},
        {"a\\", W("a\\\\")},
        {"\\", W("\\\\")},
        {"a\\\nb", W("ab")},
        {"\\\n b", W("b")},  // a continuation then a blank gives no word
        {"\\$x \\\\ \\\" \\#", W({S("$"), N("x")}) + " | " + W({S("\\\\")}) + " | " +
                                   W({S("\\\"")}) + " | " + W({S("#")})},
        {"\\\xC2\xA0x", W({S("\\u{a0}"), N("x")})},  // Unicode white space is escapable
        {"\\\xC3\xA9", W("\\\\\xC3\xA9")},
        {"\\\xff", W("\\\\\xEF\xBF\xBD")},
        {"a\\\r\nb", W({N("a"), S("\\r")}) + " | Newline | " + W("b")},
        {"\\{ \\}", W({S("{")}) + " | " + W({S("}")})},
    });
}

TEST(Lexer, CommandSubstitutionIsKeptVerbatim) {
    check({
        {"echo $(echo (x) y) z", W("echo") + " | " + W("$(echo (x) y)") + " | " + W("z")},
        {"echo $(ls", W("echo") + " | " + W("$(ls")},
        {"a$(echo \")\")\" x", W({N("a$(echo \\\")"), D(")")}) + " | " + W("x")},
        {"$HOME ${HOME}x $", W("$HOME") + " | " + W("${HOME}x") + " | " + W("$")},
        {"$(a\nb)", W("$(a\\nb)")},
    });
}

TEST(Lexer, Redirections) {
    check({
        {"2>err", R("Some(2)", "Out") + " | " + W("err")},
        {">>log", R("None", "Append") + " | " + W("log")},
        {"10<in", R("Some(10)", "In") + " | " + W("in")},
        {"99999999999>f", R("None", "Out") + " | " + W("f")},
        {"4294967295>f 4294967296>g",
         R("Some(4294967295)", "Out") + " | " + W("f") + " | " + R("None", "Out") + " | " + W("g")},
        {"a2>f", W("a2") + " | " + R("None", "Out") + " | " + W("f")},
        {"'2'>f", W({S("2")}) + " | " + R("None", "Out") + " | " + W("f")},
        {"'a'2>f", W({S("a")}) + " | " + R("Some(2)", "Out") + " | " + W("f")},
        {"2>&1", R("Some(2)", "Out") + " | Amp | " + W("1")},
        {"<<x", R("None", "In") + " | " + R("None", "In") + " | " + W("x")},
        {"a>|b", W("a") + " | " + R("None", "Out") + " | Pipe | " + W("b")},
        {"echo 2 >x", W("echo") + " | " + W("2") + " | " + R("None", "Out") + " | " + W("x")},
    });
}

TEST(Lexer, Braces) {
    check({
        {"{ echo; }", "LBrace | " + W("echo") + " | Semi | RBrace"},
        {"{echo;}", W("{echo") + " | Semi | RBrace"},
        {"{a,b} {}", W("{a,b}") + " | " + W("{}")},
        {"{", "LBrace"},
        {"{(", "LBrace | LParen"},
        {"echo }", W("echo") + " | RBrace"},
        {"a} a{", W("a}") + " | " + W("a{")},
        {"}a", "RBrace | " + W("a")},
        {"''}", W({S(""), N("}")})},
    });
}

TEST(Lexer, InvalidUtf8AndBinaryBytesPassThroughUnchanged) {
    const std::string binary("a\xff\xfe\x80\0b\xc3", 7);
    auto tokens = tokenize(binary + " '" + binary + "'");
    ASSERT_TRUE(tokens);
    ASSERT_EQ(tokens->size(), 2u);
    EXPECT_EQ(std::get<tok::Word>((*tokens)[0]).segs, (Word{{binary, Quote::None}}));
    EXPECT_EQ(std::get<tok::Word>((*tokens)[1]).segs, (Word{{binary, Quote::Single}}));
}

// Huge words, long runs of separators and deep substitutions lex without blowing up; a
// quadratic or recursive lexer would run into the test timeout.
TEST(Lexer, HugeInputLexes) {
    auto word = tokenize(std::string(10'000'000, 'x'));
    ASSERT_TRUE(word);
    EXPECT_EQ(std::get<tok::Word>((*word)[0]).segs[0].text.size(), 10'000'000u);
    auto semis = tokenize(std::string(1'000'000, ';'));
    ASSERT_TRUE(semis);
    EXPECT_EQ(semis->size(), 500'000u);
    std::string quoted(1'000'000, '"');  // half a million empty Double segments in one word
    auto quotes = tokenize(quoted);
    ASSERT_TRUE(quotes);
    EXPECT_EQ(std::get<tok::Word>((*quotes)[0]).segs.size(), 500'000u);
}

}  // namespace
}  // namespace kiln
