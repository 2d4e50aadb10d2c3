// The parser: trees compared as one-line dumps, the errors that decide between rules, the
// nesting bound, and large inputs.
#include "parser/parser.hpp"

#include <gtest/gtest.h>

#include "lexer/lexer.hpp"

namespace kiln {
namespace {

// The dump of the parsed tree, or "error: {message}".
std::string tree(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) return "lex error: " + tokens.error();
    auto node = parse(std::move(*tokens));
    return node ? dump_node(node->root) : "error: " + node.error();
}

std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(Parser, Trees) {
    static const struct {
        std::string_view input, expected;
    } cases[] = {
        {"", "Empty"},
        {"a | b | c", "Pipeline[Simple{words=[a]}, Simple{words=[b]}, Simple{words=[c]}]"},
        {"\n a \n\n b ;\n", "Seq[Simple{words=[a]}, Simple{words=[b]}]"},
        {"A=1 B=2 cmd x=3", "Simple{assigns=[A=1,B=2] words=[cmd,x=3]}"},
        {"\"A=1\"", "Simple{words=[\"A=1\"]}"},
        {"'A'=1", "Simple{words=['A'+=1]}"},
        {"A=", "Simple{assigns=[A=]}"},
        {"A=\"x y\"z", "Simple{assigns=[A=+\"x y\"+z]}"},
        {"A=1 >f B=2 cmd", "Simple{assigns=[A=1,B=2] words=[cmd] redirects=[>f]}"},
        {"2>err echo >>log <in x", "Simple{words=[echo,x] redirects=[2>err,>>log,<in]}"},
        {"> 'a b'", "Simple{redirects=[>'a b']}"},
        {"echo fi then done", "Simple{words=[echo,fi,then,done]}"},
        {"'if' a", "Simple{words=['if',a]}"},
        {"i\"f\" a", "Simple{words=[i+\"f\",a]}"},
        {"( )", "Subshell(Empty)"},
        {"{ echo hi }", "Group(Simple{words=[echo,hi]})"},
        {"f() { echo; }", "Function(f, Group(Simple{words=[echo]}))"},
        {"f()\n\n{ echo; }", "Function(f, Group(Simple{words=[echo]}))"},
        {"f() if a; then b; fi", "Function(f, If(Simple{words=[a]}, Simple{words=[b]}))"},
        {"A=1 >x f() { :; }", "Function(f, Group(Simple{words=[:]}))"},
        {"f() g() h", "Function(f, Function(g, Simple{words=[h]}))"},
        {"for x do echo; done", "For(x, [], Simple{words=[echo]})"},
        {"for x in a 'b c' do; do :; done", "For(x, [a,'b c',do], Simple{words=[:]})"},
        {"case \"$v\" in\n\n*) ;;\nesac", "Case(\"$v\", [*] => Empty)"},
        {"case x in a) ;; b) esac", "Case(x, [a] => Empty, [b] => Empty)"},
        {"case x in esac", "Case(x)"},
        {"a | b && c; d",
         "Seq[And(Pipeline[Simple{words=[a]}, Simple{words=[b]}], "
         "Simple{words=[c]}), Simple{words=[d]}]"},
        {"while a && b; do :; done || c",
         "Or(While(And(Simple{words=[a]}, Simple{words=[b]}), Simple{words=[:]}), "
         "Simple{words=[c]})"},
        {"case x in\n a) echo 1\n echo 2 &\n ;;\n b) echo b\n esac",
         "Case(x, [a] => Seq[Simple{words=[echo,1]}, Simple{words=[echo,2]}], [b] => "
         "Simple{words=[echo,b]})"},
        // errors whose rule no other check reaches
        {"if a; then b; done", "error: expected 'fi', found None"},
        {"(echo a }", "error: expected RParen, found Some(RBrace)"},
        {"f(x) { :; }",
         "error: expected RParen, found Some(Word([Seg { text: \"x\", quote: None }]))"},
        {"echo f() x", "error: unexpected token near LParen"},
        {"case ; in", "error: expected word after 'case'"},
        {"case x", "error: expected 'in', found None"},
        {"case x in a|", "error: expected case pattern, found None"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tree(c.input), c.expected) << "input: " << c.input;
    EXPECT_EQ(dump_node(parse({tok::Newline{}, tok::Newline{}})->root), "Empty");
    EXPECT_TRUE(is_valid_name("_") && is_valid_name("a1_B"));
    EXPECT_FALSE(is_valid_name("") || is_valid_name("1a") || is_valid_name("a-b") ||
                 is_valid_name("\xC3\xA9"));
}

// Nesting at the bound parses and the deep tree copies; one level more, or a hundred thousand,
// is an error rather than a stack overflow.
TEST(Parser, NestingIsBounded) {
    const int inner = kMaxParseDepth - 1;  // the innermost simple command takes the last level
    auto node = parse(*tokenize(repeat("(", inner) + "a" + repeat(")", inner)));
    ASSERT_TRUE(node) << node.error();
    EXPECT_TRUE(as<Subshell>(node->root));
    EXPECT_EQ(tree(repeat("(", inner + 1) + "a" + repeat(")", inner + 1)),
              "error: nesting too deep");
    EXPECT_EQ(tree(repeat("{ ", inner) + "a" + repeat("; }", inner)).substr(0, 12), "Group(Group(");
    EXPECT_EQ(tree(repeat("a && ", inner) + "a").substr(0, 8), "And(And(");
    EXPECT_EQ(tree(repeat("a || ", inner + 1) + "a"), "error: nesting too deep");
}

TEST(Parser, VeryDeepInputFailsCleanly) {
    for (const std::string_view piece :
         {"(", "{ ", "if true; then ", "while a; do ", "f() ", "a && ", "case x in a) "})
        EXPECT_EQ(tree(repeat(piece, 100'000)), "error: nesting too deep") << piece;
    // Command substitutions are parsed only when they run: the lexer bounds their nesting.
    EXPECT_EQ(tree("echo " + repeat("$(", 100'000)), "lex error: nesting too deep");
    EXPECT_EQ(tree("echo \"" + repeat("$(", 100'000) + "\""), "lex error: nesting too deep");
    EXPECT_EQ(tree("echo " + repeat("$(", 1000)),
              "Simple{words=[echo," + repeat("$(", 1000) + "]}");
}

// Long lists and pipelines need no deep recursion.
TEST(Parser, LargeInputParses) {
    EXPECT_EQ(as<Sequence>(parse(*tokenize(repeat("a;", 500'000)))->root)->items.size(), 500'000u);
    EXPECT_EQ(as<Pipeline>(parse(*tokenize(repeat("a|", 200'000) + "a"))->root)->stages.size(),
              200'001u);
    EXPECT_EQ(tree(std::string(1'000'000, ';')), "error: empty command");
}

// Counts and lengths past the one byte that holds the common ones.
TEST(Parser, LongCounts) {
    const std::string name(300, 'n');
    EXPECT_EQ(tree(name + "=v " + name + "x"),
              "Simple{assigns=[" + name + "=v] words=[" + name + "x]}");
    EXPECT_EQ(tree(name + "() { :; }"), "Function(" + name + ", Group(Simple{words=[:]}))");
    EXPECT_EQ(tree("for " + name + " in " + repeat("w ", 300) + "; do :; done"),
              "For(" + name + ", [w" + repeat(",w", 299) + "], Simple{words=[:]})");
    EXPECT_EQ(tree("if a; then b; " + repeat("elif c; then d; ", 200) + "else e; fi"),
              "If(Simple{words=[a]}, Simple{words=[b]}" +
                  repeat(", Elif(Simple{words=[c]}, Simple{words=[d]})", 200) +
                  ", Else(Simple{words=[e]}))");
    EXPECT_EQ(tree("case x in " + repeat("p) q;; ", 300) + "esac"),
              "Case(x" + repeat(", [p] => Simple{words=[q]}", 300) + ")");
}

}  // namespace
}  // namespace kiln
