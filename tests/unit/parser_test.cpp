// The parser: trees compared as one-line dumps, every error message exactly, the nesting
// bound, and large inputs.
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
    if (!node) return "error: " + node.error();
    return dump_node(*node);
}

struct Case {
    std::string_view input;
    std::string_view expected;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases)
        EXPECT_EQ(tree(c.input), c.expected) << "input: " << c.input;
}

std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(Parser, ListsPipelinesAndAndOr) {
    check({
        {"", "Empty"},
        {"\n\n# comment\n", "Empty"},
        {"a", "Simple{words=[a]}"},
        {"a | b | c", "Pipeline[Simple{words=[a]}, Simple{words=[b]}, Simple{words=[c]}]"},
        {"a |\n\n b", "Pipeline[Simple{words=[a]}, Simple{words=[b]}]"},
        {"a; b; c", "Seq[Simple{words=[a]}, Simple{words=[b]}, Simple{words=[c]}]"},
        {"\n a \n\n b ;\n", "Seq[Simple{words=[a]}, Simple{words=[b]}]"},
        {"echo a; ; echo b", "Seq[Simple{words=[echo,a]}, Simple{words=[echo,b]}]"},
        {"echo a &", "Simple{words=[echo,a]}"},
        {"echo a & echo b", "Seq[Simple{words=[echo,a]}, Simple{words=[echo,b]}]"},
        {"a && b || c", "Or(And(Simple{words=[a]}, Simple{words=[b]}), Simple{words=[c]})"},
        {"a &&\n\n b | c",
         "And(Simple{words=[a]}, Pipeline[Simple{words=[b]}, Simple{words=[c]}])"},
        {"a | b && c; d",
         "Seq[And(Pipeline[Simple{words=[a]}, Simple{words=[b]}], Simple{words=[c]}), "
         "Simple{words=[d]}]"},
    });
}

TEST(Parser, SimpleCommandsAssignmentsAndRedirections) {
    check({
        {"A=1 B=2 cmd x=3", "Simple{assigns=[A=1,B=2] words=[cmd,x=3]}"},
        {"=x", "Simple{words=[=x]}"},
        {"1A=2", "Simple{words=[1A=2]}"},
        {"\"A=1\"", "Simple{words=[\"A=1\"]}"},
        {"'A'=1", "Simple{words=['A'+=1]}"},
        {"A=", "Simple{assigns=[A=]}"},
        {"A=\"x y\"z", "Simple{assigns=[A=+\"x y\"+z]}"},
        {"A=b=c", "Simple{assigns=[A=b=c]}"},
        {"A=1 >f B=2 cmd", "Simple{assigns=[A=1,B=2] words=[cmd] redirects=[>f]}"},
        {"2>err echo >>log <in x", "Simple{words=[echo,x] redirects=[2>err,>>log,<in]}"},
        {">f", "Simple{redirects=[>f]}"},
        {"> 'a b'", "Simple{redirects=[>'a b']}"},
        {"echo fi then done", "Simple{words=[echo,fi,then,done]}"},
        {"then x", "Simple{words=[then,x]}"},
        {"return 1; break; function f",
         "Seq[Simple{words=[return,1]}, Simple{words=[break]}, "
         "Simple{words=[function,f]}]"},
        {"'if' a", "Simple{words=['if',a]}"},
        {"i\"f\" a", "Simple{words=[i+\"f\",a]}"},
    });
}

TEST(Parser, GroupsSubshellsAndFunctions) {
    check({
        {"( )", "Subshell(Empty)"},
        {"{ }", "Group(Empty)"},
        {"(a; b)", "Subshell(Seq[Simple{words=[a]}, Simple{words=[b]}])"},
        {"{ echo hi }", "Group(Simple{words=[echo,hi]})"},
        {"(a) | { b; }", "Pipeline[Subshell(Simple{words=[a]}), Group(Simple{words=[b]})]"},
        {"f() { echo; }", "Function(f, Group(Simple{words=[echo]}))"},
        {"f() echo hi", "Function(f, Simple{words=[echo,hi]})"},
        {"f ( ) { echo; }", "Function(f, Group(Simple{words=[echo]}))"},
        {"f()\n\n{ echo; }", "Function(f, Group(Simple{words=[echo]}))"},
        {"f() (a)", "Function(f, Subshell(Simple{words=[a]}))"},
        {"f() if a; then b; fi", "Function(f, If(Simple{words=[a]}, Simple{words=[b]}))"},
        {"A=1 >x f() { :; }", "Function(f, Group(Simple{words=[:]}))"},
        {"f() g() h", "Function(f, Function(g, Simple{words=[h]}))"},
        {"echo f() x", "error: unexpected token near LParen"},
    });
}

TEST(Parser, CompoundCommands) {
    check({
        {"if a; then b; elif c; then d; elif e; then f; else g; fi",
         "If(Simple{words=[a]}, Simple{words=[b]}, Elif(Simple{words=[c]}, Simple{words=[d]}), "
         "Elif(Simple{words=[e]}, Simple{words=[f]}), Else(Simple{words=[g]}))"},
        {"if true; then echo fi; fi", "If(Simple{words=[true]}, Simple{words=[echo,fi]})"},
        {"if a\nthen\nb\nfi", "If(Simple{words=[a]}, Simple{words=[b]})"},
        {"if a; then fi", "If(Simple{words=[a]}, Empty)"},
        {"for x do echo; done", "For(x, [], Simple{words=[echo]})"},
        {"for x in; do echo; done", "For(x, [], Simple{words=[echo]})"},
        {"for x in a 'b c' do; do :; done", "For(x, [a,'b c',do], Simple{words=[:]})"},
        {"for x in a\n\n do :; done", "For(x, [a], Simple{words=[:]})"},
        {"for x in a; do :; done | sort",
         "Pipeline[For(x, [a], Simple{words=[:]}), Simple{words=[sort]}]"},
        {"while a; do b; done", "While(Simple{words=[a]}, Simple{words=[b]})"},
        {"until a; b; do c; done",
         "Until(Seq[Simple{words=[a]}, Simple{words=[b]}], Simple{words=[c]})"},
        {"while a && b; do :; done || c",
         "Or(While(And(Simple{words=[a]}, Simple{words=[b]}), Simple{words=[:]}), "
         "Simple{words=[c]})"},
    });
}

TEST(Parser, Case) {
    check({
        {"case x in a|b) echo ab;; (c) echo c;; *) ;; esac",
         "Case(x, [a,b] => Simple{words=[echo,ab]}, [c] => Simple{words=[echo,c]}, [*] => "
         "Empty)"},
        {"case x in esac", "Case(x)"},
        {"case \"$v\" in\n\n*) ;;\nesac", "Case(\"$v\", [*] => Empty)"},
        {"case x in\n a) echo 1\n echo 2 &\n ;;\n b) echo b\n esac",
         "Case(x, [a] => Seq[Simple{words=[echo,1]}, Simple{words=[echo,2]}], [b] => "
         "Simple{words=[echo,b]})"},
        {"case x in a) b;; esac", "Case(x, [a] => Simple{words=[b]})"},
        {"case x in a) ;; b) esac", "Case(x, [a] => Empty, [b] => Empty)"},
        {"case x in a) echo a esac", "error: expected 'esac', found None"},
    });
}

TEST(Parser, ErrorMessages) {
    check({
        {"if true then echo fi", "error: expected 'then', found None"},
        {"if a; then b", "error: expected 'fi', found None"},
        {"if a; then b; done", "error: expected 'fi', found None"},
        {"while a; b; done", "error: expected 'do', found None"},
        {"while a; do b; )", "error: expected 'done', found Some(RParen)"},
        {"; echo b", "error: empty command"},
        {"| a", "error: empty command"},
        {"a |", "error: empty command"},
        {"a &&", "error: empty command"},
        {"&& a", "error: empty command"},
        {"a && || b", "error: empty command"},
        {"echo a )", "error: unexpected token near RParen"},
        {"echo ;;", "error: unexpected token near DSemi"},
        {"echo }", "error: unexpected token near RBrace"},
        {"(echo a", "error: expected RParen, found None"},
        {"(echo a }", "error: expected RParen, found Some(RBrace)"},
        {"{ echo a", "error: expected '}', found None"},
        {"{ echo a )", "error: expected '}', found Some(RParen)"},
        {"\"f\"() { echo hi; }", "error: unexpected token near LParen"},
        {"f(x) { :; }",
         "error: expected RParen, found Some(Word([Seg { text: \"x\", quote: None }]))"},
        {"f()", "error: empty command"},
        {"2>&1", "error: expected redirection target, found Some(Amp)"},
        {"echo >", "error: expected redirection target, found None"},
        {"echo > ;", "error: expected redirection target, found Some(Semi)"},
        {"{ echo hi; } > out", "error: unexpected token near Redir { fd: None, op: Out }"},
        {"while a; do b; done 2> out",
         "error: unexpected token near Redir { fd: Some(2), op: Out }"},
        {"for 1x in a; do :; done", "error: invalid for-loop variable"},
        {"for 'x' in a; do :; done", "error: invalid for-loop variable"},
        {"for; do", "error: expected variable after 'for'"},
        {"for", "error: expected variable after 'for'"},
        {"for x in a do echo; done",
         "error: expected 'do', found Some(Word([Seg { text: \"done\", quote: None }]))"},
        {"for x in a; do :;", "error: expected 'done', found None"},
        {"case", "error: expected word after 'case'"},
        {"case ; in", "error: expected word after 'case'"},
        {"case x", "error: expected 'in', found None"},
        {"case x in ) a;; esac", "error: expected case pattern, found Some(RParen)"},
        {"case x in a", "error: expected '|' or ')' in case, found None"},
        {"case x in a|", "error: expected case pattern, found None"},
        {"case x in a b) ;; esac",
         "error: expected '|' or ')' in case, found Some(Word([Seg { text: \"b\", quote: None "
         "}]))"},
    });
}

TEST(Parser, TokenListsWithoutCommands) {
    auto empty = parse({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(dump_node(*empty), "Empty");
    auto newlines = parse({tok::Newline{}, tok::Newline{}});
    ASSERT_TRUE(newlines);
    EXPECT_EQ(dump_node(*newlines), "Empty");
}

TEST(Parser, ValidNames) {
    EXPECT_TRUE(is_valid_name("_"));
    EXPECT_TRUE(is_valid_name("a1_B"));
    EXPECT_FALSE(is_valid_name(""));
    EXPECT_FALSE(is_valid_name("1a"));
    EXPECT_FALSE(is_valid_name("a-b"));
    EXPECT_FALSE(is_valid_name("\xC3\xA9"));
}

// Nesting at the bound parses, and the deep tree can be copied and destroyed; one level more
// is an error rather than a stack overflow.
TEST(Parser, NestingIsBounded) {
    const int inner = kMaxParseDepth - 1;  // the innermost simple command takes the last level
    auto deep = tokenize(repeat("(", inner) + "a" + repeat(")", inner));
    ASSERT_TRUE(deep);
    auto node = parse(std::move(*deep));
    ASSERT_TRUE(node) << node.error();
    const Node copy = *node;
    EXPECT_TRUE(std::holds_alternative<Subshell>(copy.v));

    EXPECT_EQ(tree(repeat("(", inner + 1) + "a" + repeat(")", inner + 1)),
              "error: nesting too deep");
    EXPECT_EQ(tree(repeat("{ ", inner) + "a" + repeat("; }", inner)).substr(0, 12), "Group(Group(");
    EXPECT_EQ(tree(repeat("a && ", inner) + "a").substr(0, 8), "And(And(");
    EXPECT_EQ(tree(repeat("a || ", inner + 1) + "a"), "error: nesting too deep");
}

TEST(Parser, VeryDeepInputFailsCleanly) {
    for (const std::string_view piece :
         {"(", "{ ", "if true; then ", "while a; do ", "f() ", "a && ", "case x in a) "}) {
        EXPECT_EQ(tree(repeat(piece, 100'000)), "error: nesting too deep") << piece;
    }
    // Command substitutions are parsed only when they run: the lexer bounds their nesting.
    EXPECT_EQ(tree("echo " + repeat("$(", 100'000)), "lex error: nesting too deep");
    EXPECT_EQ(tree("echo \"" + repeat("$(", 100'000) + "\""), "lex error: nesting too deep");
    EXPECT_EQ(tree("echo " + repeat("$(", 1000)),
              "Simple{words=[echo," + repeat("$(", 1000) + "]}");
}

// Long lists, long pipelines and huge words parse without deep recursion.
TEST(Parser, LargeInputParses) {
    auto long_list = parse(*tokenize(repeat("a;", 500'000)));
    ASSERT_TRUE(long_list);
    EXPECT_EQ(std::get<Sequence>(long_list->v).items.size(), 500'000u);
    auto long_pipe = parse(*tokenize(repeat("a|", 200'000) + "a"));
    ASSERT_TRUE(long_pipe);
    EXPECT_EQ(std::get<Pipeline>(long_pipe->v).stages.size(), 200'001u);
    auto big_word = parse(*tokenize("echo " + std::string(10'000'000, 'x')));
    ASSERT_TRUE(big_word);
    EXPECT_EQ(tree(std::string(1'000'000, ';')), "error: empty command");
}

}  // namespace
}  // namespace kiln
