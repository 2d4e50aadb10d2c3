// The parser: recursive descent over the token list with one token of look-ahead. Tokens are
// moved into the tree as they are consumed; nothing is copied.
#include "parser/parser.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

namespace kiln {
namespace {

using Parsed = Result<Node, std::string>;
using Checked = Result<void, std::string>;
using Stops = std::initializer_list<std::string_view>;

constexpr std::array<std::string_view, 17> kKeywords = {
    "if",   "then", "elif", "else", "fi",       "for",    "while", "until",   "do",
    "done", "case", "esac", "in",   "function", "return", "break", "continue"};

// A word that stands for a single unquoted text, as keywords and names must.
const std::string* plain_text(const Word& word) {
    if (word.size() != 1 || word[0].quote != Quote::None) return nullptr;
    return &word[0].text;
}

bool is_plain_name(const Word& word) {
    const std::string* text = plain_text(word);
    return text && is_valid_name(*text);
}

// `NAME=rest...` with an unquoted first segment: the assignment, else nothing.
std::optional<Assignment> as_assignment(Word& word) {
    Seg& first = word[0];
    if (first.quote != Quote::None) return std::nullopt;
    const std::size_t eq = first.text.find('=');
    if (eq == std::string::npos || !is_valid_name(std::string_view(first.text).substr(0, eq))) {
        return std::nullopt;
    }
    Assignment a;
    a.name = first.text.substr(0, eq);
    a.value.push_back(Seg{first.text.substr(eq + 1), Quote::None});
    std::move(word.begin() + 1, word.end(), std::back_inserter(a.value));
    return a;
}

// A list of no items is Empty and a list of one is that item.
Node make_list(std::vector<Node> items) {
    if (items.empty()) return Node{Empty{}};
    if (items.size() == 1) return std::move(items[0]);
    return Node{Sequence{std::move(items)}};
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    Parsed parse_all() {
        Parsed tree = parse_list({});
        if (!tree) return tree;
        if (const Token* rest = peek()) return fail("unexpected token near " + render_token(*rest));
        return tree;
    }

private:
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;  // levels of nesting in the tree being built

    // Holds levels of nesting for the lifetime of a parse function and gives them back when
    // it returns.
    class Nest {
    public:
        explicit Nest(int& depth) : depth_(depth) {}
        ~Nest() { depth_ -= levels_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;
        // One level deeper; false once past the bound.
        bool deepen() {
            ++depth_;
            ++levels_;
            return depth_ <= kMaxParseDepth;
        }

    private:
        int& depth_;
        int levels_ = 0;
    };

    const Token* peek() const { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }

    template <class T>
    bool peek_is() const {
        const Token* t = peek();
        return t && std::holds_alternative<T>(*t);
    }

    std::optional<std::string_view> peek_keyword() const;
    Token* next_token() { return pos_ < tokens_.size() ? &tokens_[pos_++] : nullptr; }
    Checked expect_keyword(std::string_view word);
    Checked expect_token(const Token& token);
    void skip_newlines();
    bool skip_separators();
    bool list_at_end(Stops stops) const;

    Parsed parse_list(Stops stops);
    Parsed parse_and_or();
    Parsed parse_pipeline();
    Parsed parse_command();
    Parsed parse_subshell();
    Parsed parse_group();
    Parsed parse_if();
    Parsed parse_for();
    Parsed parse_loop(bool until);
    Parsed parse_case();
    Result<CaseArm, std::string> parse_case_arm();
    Checked parse_case_patterns(std::vector<Word>& patterns);
    Parsed parse_simple();
    Parsed parse_function_def(std::string name);
};

std::optional<std::string_view> Parser::peek_keyword() const {
    const Token* t = peek();
    const auto* word = t ? std::get_if<tok::Word>(t) : nullptr;
    const std::string* text = word ? plain_text(word->segs) : nullptr;
    if (!text) return std::nullopt;
    const auto it = std::find(kKeywords.begin(), kKeywords.end(), *text);
    if (it == kKeywords.end()) return std::nullopt;
    return *it;
}

Checked Parser::expect_keyword(std::string_view word) {
    if (peek_keyword() == word) {
        ++pos_;
        return {};
    }
    return fail("expected '" + std::string(word) + "', found " + render_optional_token(peek()));
}

Checked Parser::expect_token(const Token& token) {
    const Token* t = peek();
    if (t && *t == token) {
        ++pos_;
        return {};
    }
    return fail("expected " + render_token(token) + ", found " + render_optional_token(t));
}

void Parser::skip_newlines() {
    while (peek_is<tok::Newline>())
        ++pos_;
}

// Consumes `;`, `&` and line ends in any number and mix; true when any was there.
bool Parser::skip_separators() {
    const std::size_t start = pos_;
    while (peek_is<tok::Semi>() || peek_is<tok::Amp>() || peek_is<tok::Newline>())
        ++pos_;
    return pos_ != start;
}

bool Parser::list_at_end(Stops stops) const {
    if (!peek() || peek_is<tok::RParen>() || peek_is<tok::RBrace>()) return true;
    const std::optional<std::string_view> keyword = peek_keyword();
    return keyword && std::find(stops.begin(), stops.end(), *keyword) != stops.end();
}

// list: newline* (and_or ((';' | '&' | newline)+ and_or)*)? -- ends before a stop word
Parsed Parser::parse_list(Stops stops) {
    std::vector<Node> items;
    while (true) {
        skip_newlines();
        if (list_at_end(stops)) break;
        Parsed item = parse_and_or();
        if (!item) return item;
        items.push_back(std::move(*item));
        if (!skip_separators() || list_at_end(stops)) break;
    }
    return make_list(std::move(items));
}

// and_or: pipeline (('&&' | '||') newline* pipeline)* -- nesting to the left
Parsed Parser::parse_and_or() {
    Parsed left = parse_pipeline();
    if (!left) return left;
    // Each link nests the chain one level deeper, so a long chain counts against the bound
    // like any other nesting: the tree is later walked and destroyed recursively.
    Nest nest(depth_);
    while (peek_is<tok::AndAnd>() || peek_is<tok::OrOr>()) {
        const bool is_or = peek_is<tok::OrOr>();
        ++pos_;
        if (!nest.deepen()) return fail(std::string("nesting too deep"));
        skip_newlines();
        Parsed right = parse_pipeline();
        if (!right) return right;
        left = Node{AndOr{std::move(*left), std::move(*right), is_or}};
    }
    return left;
}

// pipeline: command ('|' newline* command)*
Parsed Parser::parse_pipeline() {
    Parsed first = parse_command();
    if (!first || !peek_is<tok::Pipe>()) return first;
    std::vector<Node> stages;
    stages.push_back(std::move(*first));
    while (peek_is<tok::Pipe>()) {
        ++pos_;
        skip_newlines();
        Parsed next = parse_command();
        if (!next) return next;
        stages.push_back(std::move(*next));
    }
    return Node{Pipeline{std::move(stages)}};
}

// command: if | for | while | until | case | subshell | group | simple
Parsed Parser::parse_command() {
    Nest nest(depth_);
    if (!nest.deepen()) return fail(std::string("nesting too deep"));
    const std::optional<std::string_view> keyword = peek_keyword();
    if (keyword == "if") return parse_if();
    if (keyword == "for") return parse_for();
    if (keyword == "while") return parse_loop(false);
    if (keyword == "until") return parse_loop(true);
    if (keyword == "case") return parse_case();
    if (peek_is<tok::LParen>()) return parse_subshell();
    if (peek_is<tok::LBrace>()) return parse_group();
    return parse_simple();
}

// subshell: '(' list ')'
Parsed Parser::parse_subshell() {
    ++pos_;  // skip '('
    Parsed body = parse_list({});
    if (!body) return body;
    if (auto closed = expect_token(tok::RParen{}); !closed) return fail(closed.error());
    return Node{Subshell{std::move(*body)}};
}

// group: '{' list '}'
Parsed Parser::parse_group() {
    ++pos_;  // skip '{'
    Parsed body = parse_list({});
    if (!body) return body;
    if (!peek_is<tok::RBrace>())
        return fail("expected '}', found " + render_optional_token(peek()));
    ++pos_;
    return Node{Group{std::move(*body)}};
}

// if: 'if' list 'then' list ('elif' list 'then' list)* ('else' list)? 'fi'
Parsed Parser::parse_if() {
    if (auto ok = expect_keyword("if"); !ok) return fail(ok.error());
    Parsed cond = parse_list({"then"});
    if (!cond) return cond;
    if (auto ok = expect_keyword("then"); !ok) return fail(ok.error());
    Parsed then_body = parse_list({"elif", "else", "fi"});
    if (!then_body) return then_body;
    If node{std::move(*cond), std::move(*then_body), {}, std::nullopt};
    while (peek_keyword() == "elif") {
        ++pos_;
        Parsed elif_cond = parse_list({"then"});
        if (!elif_cond) return elif_cond;
        if (auto ok = expect_keyword("then"); !ok) return fail(ok.error());
        Parsed elif_body = parse_list({"elif", "else", "fi"});
        if (!elif_body) return elif_body;
        node.elifs.push_back(ElifClause{std::move(*elif_cond), std::move(*elif_body)});
    }
    if (peek_keyword() == "else") {
        ++pos_;
        Parsed else_body = parse_list({"fi"});
        if (!else_body) return else_body;
        node.else_body.emplace(std::move(*else_body));
    }
    if (auto ok = expect_keyword("fi"); !ok) return fail(ok.error());
    return Node{std::move(node)};
}

// for: 'for' name ('in' word*)? (';' | newline)* 'do' list 'done'
Parsed Parser::parse_for() {
    if (auto ok = expect_keyword("for"); !ok) return fail(ok.error());
    Token* var = next_token();
    auto* var_word = var ? std::get_if<tok::Word>(var) : nullptr;
    if (!var_word) return fail(std::string("expected variable after 'for'"));
    if (!is_plain_name(var_word->segs)) return fail(std::string("invalid for-loop variable"));
    For node;
    node.var = std::move(var_word->segs[0].text);
    if (peek_keyword() == "in") {
        ++pos_;
        while (peek_is<tok::Word>())
            node.words.push_back(std::move(std::get<tok::Word>(*next_token()).segs));
    }
    while (peek_is<tok::Semi>() || peek_is<tok::Newline>())
        ++pos_;
    if (auto ok = expect_keyword("do"); !ok) return fail(ok.error());
    Parsed body = parse_list({"done"});
    if (!body) return body;
    if (auto ok = expect_keyword("done"); !ok) return fail(ok.error());
    node.body = std::move(*body);
    return Node{std::move(node)};
}

// loop: ('while' | 'until') list 'do' list 'done'
Parsed Parser::parse_loop(bool until) {
    if (auto ok = expect_keyword(until ? "until" : "while"); !ok) return fail(ok.error());
    Parsed cond = parse_list({"do"});
    if (!cond) return cond;
    if (auto ok = expect_keyword("do"); !ok) return fail(ok.error());
    Parsed body = parse_list({"done"});
    if (!body) return body;
    if (auto ok = expect_keyword("done"); !ok) return fail(ok.error());
    return Node{Loop{std::move(*cond), std::move(*body), until}};
}

// case: 'case' word 'in' newline* case_arm* 'esac'
Parsed Parser::parse_case() {
    if (auto ok = expect_keyword("case"); !ok) return fail(ok.error());
    Token* subject = next_token();
    auto* subject_word = subject ? std::get_if<tok::Word>(subject) : nullptr;
    if (!subject_word) return fail(std::string("expected word after 'case'"));
    Case node;
    node.word = std::move(subject_word->segs);
    if (auto ok = expect_keyword("in"); !ok) return fail(ok.error());
    skip_newlines();
    while (peek() && peek_keyword() != "esac") {
        Result<CaseArm, std::string> arm = parse_case_arm();
        if (!arm) return fail(std::move(arm.error()));
        node.arms.push_back(std::move(*arm));
        skip_newlines();
    }
    if (auto ok = expect_keyword("esac"); !ok) return fail(ok.error());
    return Node{std::move(node)};
}

// case_arm: '('? word ('|' word)* ')' (and_or separator*)* ';;'? -- the last ';;' optional
Result<CaseArm, std::string> Parser::parse_case_arm() {
    CaseArm arm;
    if (auto ok = parse_case_patterns(arm.patterns); !ok) return fail(ok.error());
    std::vector<Node> items;
    while (true) {
        skip_newlines();
        if (peek_is<tok::DSemi>()) {
            ++pos_;
            break;
        }
        if (!peek() || peek_keyword() == "esac") break;
        Parsed item = parse_and_or();
        if (!item) return fail(std::move(item.error()));
        items.push_back(std::move(*item));
        skip_separators();
        if (peek_is<tok::DSemi>()) {
            ++pos_;
            break;
        }
    }
    arm.body = make_list(std::move(items));
    return arm;
}

// patterns: '('? word ('|' word)* ')'
Checked Parser::parse_case_patterns(std::vector<Word>& patterns) {
    if (peek_is<tok::LParen>()) ++pos_;
    while (true) {
        Token* pattern = next_token();
        auto* word = pattern ? std::get_if<tok::Word>(pattern) : nullptr;
        if (!word) return fail("expected case pattern, found " + render_optional_token(pattern));
        patterns.push_back(std::move(word->segs));
        if (peek_is<tok::Pipe>()) {
            ++pos_;
            continue;
        }
        if (peek_is<tok::RParen>()) {
            ++pos_;
            return {};
        }
        return fail("expected '|' or ')' in case, found " + render_optional_token(peek()));
    }
}

// simple: (assignment | redirect)* (word | redirect)* | name '(' ')' newline* command
Parsed Parser::parse_simple() {
    Simple node;
    bool have_command_word = false;
    while (const Token* t = peek()) {
        if (const auto* redir = std::get_if<tok::Redir>(t)) {
            const tok::Redir op = *redir;
            ++pos_;
            Token* target = next_token();
            auto* word = target ? std::get_if<tok::Word>(target) : nullptr;
            if (!word) {
                return fail("expected redirection target, found " + render_optional_token(target));
            }
            node.redirects.push_back(Redirect{std::move(word->segs), op.fd, op.op});
            continue;
        }
        if (!std::holds_alternative<tok::Word>(*t)) break;
        Word word = std::move(std::get<tok::Word>(*next_token()).segs);
        if (have_command_word) {
            node.words.push_back(std::move(word));
        } else if (peek_is<tok::LParen>() && is_plain_name(word)) {
            // What was collected before the name has no place in a definition.
            return parse_function_def(std::move(word[0].text));
        } else if (std::optional<Assignment> a = as_assignment(word)) {
            node.assigns.push_back(std::move(*a));
        } else {
            node.words.push_back(std::move(word));
            have_command_word = true;
        }
    }
    if (node.assigns.empty() && node.words.empty() && node.redirects.empty()) {
        return fail(std::string("empty command"));
    }
    return Node{std::move(node)};
}

// function_def: name '(' ')' newline* command
Parsed Parser::parse_function_def(std::string name) {
    ++pos_;  // skip '('
    if (auto closed = expect_token(tok::RParen{}); !closed) return fail(closed.error());
    skip_newlines();
    Parsed body = parse_command();
    if (!body) return body;
    return Node{FunctionDef{std::move(name), std::move(*body)}};
}

}  // namespace

bool is_valid_name(std::string_view text) {
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               (c >= '0' && c <= '9');
    });
}

Result<Node, std::string> parse(std::vector<Token> tokens) {
    return Parser(std::move(tokens)).parse_all();
}

}  // namespace kiln
