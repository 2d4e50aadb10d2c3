// The lexer: token lists as one-line dumps, the debug rendering used in messages, and input
// that is huge, binary or not valid UTF-8.
#include "lexer/lexer.hpp"

#include <gtest/gtest.h>

namespace kiln {
namespace {

struct Case {
    std::string_view input;
    std::string_view expected;
};

// Tokens separated by blanks: a word as its segments (bare, 'single', "double"), a
// redirection as its descriptor and operator, anything else by name; or "error: {message}".
std::string lex(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) return "error: " + tokens.error();
    std::string out;
    for (const Token& t : *tokens) {
        if (!out.empty()) out += ' ';
        if (const auto* w = std::get_if<TokWord>(&t)) {
            for (const TokSeg& s : w->segs) {
                const char* q = s.quote == Quote::Single   ? "'"
                                : s.quote == Quote::Double ? "\""
                                                           : "";
                out += q + s.text + q;
            }
        } else if (const auto* r = std::get_if<tok::Redir>(&t)) {
            if (r->fd) out += std::to_string(*r->fd);
            out += r->op == RedirOp::In ? "<" : r->op == RedirOp::Out ? ">" : ">>";
        } else {
            out += render_token(t);
        }
    }
    return out;
}

TEST(Lexer, Tokens) {
    static const Case cases[] = {
        // separators, operators, comments
        {"a|b||c&d&&e", "a Pipe b OrOr c Amp d AndAnd e"},
        {"a(b)", "a LParen b RParen"},
        {"a\r\nb\r\n", "a Newline b Newline"},
        {"a\fb\vc !%=]`~x", "a\fb\vc !%=]`~x"},  // form feed and vertical tab are word bytes
        {"a#b ''#x", "a#b ''#x"},
        // quotes
        {"a\"b c\"'d'", "a\"b c\"'d'"},
        {"\"a\\\"b\" \"a\\qb\" 'a\\'", "\"a\"b\" \"a\\qb\" 'a\\'"},
        {"\"\\\\ \\` \\\n\" \"a\rb\"", "\"\\ ` \\\n\" \"a\rb\""},  // backslash-newline stays
        // an escaped dollar in double quotes travels as a single-quoted segment
        {"\"\\$HOME\" \"a\\$b\"", "'$'\"HOME\" \"a\"'$'\"b\""},
        {"\"$x\\$\\$\" x\"\\$(ls)\"", "\"$x\"'$''$' x'$'\"(ls)\""},
        // backslash outside quotes
        {"\\* a\\ b \\a C:\\Users a\\", "'*' a' 'b \\a C:\\Users a\\"},
        {"\\", "\\"},
        {"a\\\nb \\\n c", "ab c"},  // a continuation then a blank ends no word
        {"\\$x \\\\ \\\" \\# \\{ \\}", "'$'x '\\' '\"' '#' '{' '}'"},
        {"\\\xC2\xA0x \\\xC3\xA9 \\\xff", "'\xC2\xA0'x \\\xC3\xA9 \\\xff"},  // Unicode blanks too
        {"a\\\r\nb \\\r\n c\\\rd \\\r", "ab c'\r'd '\r'"},  // CR LF continues as LF does
        // command substitution and parameters are kept verbatim
        {"echo $(echo (x) y) z $(a\nb)", "echo $(echo (x) y) z $(a\nb)"},
        {"a$(echo \")\")\" x", "a$(echo \")\")\" x"},
        // inside double quotes the command's own quotes hide its parentheses and quotes
        {"\"a$(echo \")\")b\" \"$(a \\\" 'b\"')\"", "\"a$(echo \")\")b\" \"$(a \\\" 'b\"')\""},
        // redirections
        {"2>err >>log 10<in", "2> err >> log 10< in"},
        {"99999999999>f 4294967295>f 4294967296>g", "> f 4294967295> f > g"},
        {"a2>f '2'>f 'a'2>f", "a2 > f '2' > f 'a' 2> f"},
        {"2>&1 <<x a>|b", "2> Amp 1 < < x a > Pipe b"},
        // braces are operators only as whole words
        {"{ echo; } {echo;}", "LBrace echo Semi RBrace {echo Semi RBrace"},
        {"{a,b} {} {( a} a{ ''}", "{a,b} {} LBrace LParen a} a{ ''}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lex(c.input), c.expected) << "input: " << c.input;
}

// The rendering shows control, format and invalid characters as escapes.
TEST(Lexer, DebugRendering) {
    static const Case cases[] = {
        {"2>>f", "Redir { fd: Some(2), op: Append } | Word([Seg { text: \"f\", quote: None }])"},
        {"| ; ;; & && || ( ) { } \n <",
         "Pipe | Semi | DSemi | Amp | AndAnd | OrOr | LParen | "
         "RParen | LBrace | RBrace | Newline | Redir { fd: None, "
         "op: In }"},
        {"'a\\b\"c\t\r\n'", "a\\\\b\\\"c\\t\\r\\n"},
        {std::string_view("'\0\x01\x1b\x7f'", 6), "\\0\\u{1}\\u{1b}\\u{7f}"},
        {"'\xC2\x85 e\xCC\x81 \xE2\x80\x8B\xEF\xBB\xBF \xC2\xA0'",
         "\\u{85} e\\u{301} \\u{200b}\\u{feff} \\u{a0}"},
        {"'\xEF\xBF\xBD \xC3\xA9 \xF0\x9F\x98\x80'", "\xEF\xBF\xBD \xC3\xA9 \xF0\x9F\x98\x80"},
        {"'\xEF\xBF\xBE\xEE\x80\x80\xff'", "\\u{fffe}\\u{e000}\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        std::string out;
        const auto tokens = tokenize(c.input);
        for (const Token& t : *tokens)
            out += (out.empty() ? "" : " | ") + render_token(t);
        // A single-quoted input is one segment: the table holds its text only.
        const std::string expected =
            c.input[0] == '\''
                ? "Word([Seg { text: \"" + std::string(c.expected) + "\", quote: Single }])"
                : std::string(c.expected);
        EXPECT_EQ(out, expected) << "input: " << c.input;
    }
}

TEST(Lexer, BinaryBytesPassThroughUnchanged) {
    const std::string binary("a\xff\xfe\x80\0b\xc3", 7);
    EXPECT_EQ(lex(binary + " '" + binary + "'"), binary + " '" + binary + "'");
}

// Huge words, long runs of separators and many quotes; a quadratic or
// recursive lexer would run into the test timeout.
TEST(Lexer, HugeInput) {
    EXPECT_EQ(
        std::get<TokWord>(tokenize(std::string(10'000'000, 'x'))->front()).segs[0].text.size(),
        10'000'000u);
    EXPECT_EQ(tokenize(std::string(1'000'000, ';'))->size(), 500'000u);
    EXPECT_EQ(std::get<TokWord>(tokenize(std::string(1'000'000, '"'))->front()).segs.size(),
              500'000u);
}

}  // namespace
}  // namespace kiln
