// The parser: recursive descent over the token list with one token of look-ahead. The text of
// each word is copied into the tree's memory as the word is consumed.
#include "parser/parser.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/arena.hpp"
#include "parser/gather.hpp"
#include "parser/keyword.hpp"

namespace kiln {
namespace {

using Place = TreeMemory::Place;
// The place of the node's record in the tree, or the error.
using Parsed = Result<Place, std::string>;
using Error = Unexpected<std::string>;
using Stops = std::span<const Keyword>;

// The words that end the lists inside compound commands.
constexpr std::array kThen = {Keyword::Then};
constexpr std::array kThenBody = {Keyword::Elif, Keyword::Else, Keyword::Fi};
constexpr std::array kFi = {Keyword::Fi};
constexpr std::array kDo = {Keyword::Do};
constexpr std::array kDone = {Keyword::Done};

// `NAME=rest...` with an unquoted first segment: the length of NAME, else 0.
std::size_t assignment_name_length(const TokSegs& word) {
    const TokSeg& first = word[0];
    if (first.quote != Quote::None) return 0;
    const std::size_t eq = first.text.find('=');
    if (eq == std::string::npos || !is_valid_name(std::string_view(first.text).substr(0, eq))) {
        return 0;
    }
    return eq;
}

// Messages are built out of line: the parse functions recurse once per level of nesting, and
// string temporaries in their frames would multiply the stack each level needs.
[[gnu::cold, gnu::noinline]] Error error(std::string_view message) {
    return Error{std::string(message)};
}

// "expected {what}, found {token}", the token shown as an optional.
[[gnu::cold, gnu::noinline]] Error error_found(std::string_view what, const Token* found) {
    return Error{"expected " + std::string(what) + ", found " + render_optional_token(found)};
}

[[gnu::cold, gnu::noinline]] Error error_missing_keyword(std::string_view word,
                                                         const Token* found) {
    return error_found("'" + std::string(word) + "'", found);
}

class Parser {
public:
    Parser(TokenList tokens, TokenStream* stream, TreeMemory& memory)
        : tokens_(std::move(tokens)), stream_(stream), memory_(memory) {}

    Parsed parse_all() {
        Parsed tree = parse_list({});
        if (!tree) return tree;
        if (const Token* rest = peek())
            return error("unexpected token near " + render_token(*rest));
        return tree;
    }

private:
    // The tokens not yet consumed, each dropped as it is consumed. With a stream they are
    // only the few read ahead: the list is refilled from the stream when it runs dry.
    mutable TokenList tokens_;
    TokenStream* stream_;          // null when the list holds every token from the start
    TreeMemory& memory_;           // where the tree goes
    GatherStack<Place> gathered_;  // where the lists being built wait
    std::size_t pos_ = 0;          // how many tokens were consumed: the position of tokens_.front()
    Token taken_;                  // the token that next_token() consumed last
    int depth_ = 0;                // levels of nesting in the tree being built
    // The parser asks several times whether the same token is a keyword; the answer for the
    // token at keyword_pos_ is kept (paid for by the parse-only shape of bench/language.sh).
    mutable std::size_t keyword_pos_ = std::string::npos;
    mutable Keyword keyword_ = Keyword::None;

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

    const Token* peek() const {
        if (tokens_.empty() && !read_more()) return nullptr;
        return &tokens_.front();
    }
    bool read_more() const { return stream_ && stream_->read(tokens_); }
    // Consumes the next token, which must exist.
    void advance() {
        tokens_.pop_front();
        ++pos_;
    }

    template <class T>
    bool peek_is() const {
        const Token* t = peek();
        return t && std::holds_alternative<T>(*t);
    }

    // Consumes the next token when it is a T.
    template <class T>
    bool accept() {
        if (!peek_is<T>()) return false;
        advance();
        return true;
    }

    // Leaf helpers stay out of line too, keeping their locals out of the recursive frames.
    [[gnu::noinline]] Keyword peek_keyword() const;
    // Consumes the next token and returns it, valid until the next call; null at the end.
    Token* next_token() {
        if (!peek()) return nullptr;
        taken_ = std::move(tokens_.front());
        advance();
        return &taken_;
    }
    // Consumes the next token, which must be a word, and writes it into the tree as an item:
    // the place of the word.
    Place take_word_item() {
        const Place word = put_word_item(std::get<TokWord>(tokens_.front()).segs);
        advance();
        return word;
    }
    Place put_word_item(const TokSegs& segs) {
        memory_.put_byte(item_layout::kWord);
        const Place word = memory_.here();
        memory_.put_word(segs);
        return word;
    }
    // A list's node: Empty, its only item, or a Sequence of its items.
    Place list_node(const Gather<Place>& items);
    // The keyword `word` next: consumed and true. Otherwise false, and missing(word) is the
    // error "expected '{word}', found {token}".
    [[gnu::noinline]] bool expect_keyword(Keyword word);
    Error missing(Keyword word) const { return error_missing_keyword(keyword_text(word), peek()); }
    void skip_newlines();
    bool skip_separators();
    [[gnu::noinline]] bool list_at_end(Stops stops) const;

    Parsed parse_list(Stops stops);
    Parsed parse_and_or();
    Parsed parse_pipeline();
    Parsed parse_command();
    // The compound parsers stay out of line so that each level of nesting pays only for the
    // frame of the construct it actually is.
    [[gnu::noinline]] Parsed parse_subshell();
    [[gnu::noinline]] Parsed parse_group();
    [[gnu::noinline]] Parsed parse_if();
    [[gnu::noinline]] Parsed parse_for();
    [[gnu::noinline]] Parsed parse_loop(bool until);
    [[gnu::noinline]] Parsed parse_case();
    [[gnu::noinline]] Parsed parse_case_arm();
    [[gnu::noinline]] Result<void, std::string> parse_case_patterns();
    [[gnu::noinline]] Parsed parse_simple();
    [[gnu::noinline]] Result<void, std::string> parse_redirect();
    [[gnu::noinline]] Parsed parse_function_def(std::string_view name);
};

Keyword Parser::peek_keyword() const {
    if (keyword_pos_ != pos_) {
        const Token* t = peek();
        const auto* word = t ? std::get_if<TokWord>(t) : nullptr;
        keyword_ = word ? keyword_of(word->segs) : Keyword::None;
        keyword_pos_ = pos_;
    }
    return keyword_;
}

Place Parser::list_node(const Gather<Place>& items) {
    if (items.size() == 0) return memory_.begin(NodeKind::Empty);
    if (items.size() == 1) return items.items()[0];
    const Place node = memory_.begin(NodeKind::Sequence);
    memory_.put_places(items.items());
    return node;
}

bool Parser::expect_keyword(Keyword word) {
    if (peek_keyword() != word) return false;
    advance();
    return true;
}

void Parser::skip_newlines() {
    while (accept<tok::Newline>()) {
    }
}

// Consumes `;`, `&` and line ends in any number and mix; true when any was there.
bool Parser::skip_separators() {
    const std::size_t start = pos_;
    while (accept<tok::Semi>() || accept<tok::Amp>() || accept<tok::Newline>()) {
    }
    return pos_ != start;
}

bool Parser::list_at_end(Stops stops) const {
    if (!peek() || peek_is<tok::RParen>() || peek_is<tok::RBrace>()) return true;
    return std::find(stops.begin(), stops.end(), peek_keyword()) != stops.end();
}

// list: newline* (and_or ((';' | '&' | newline)+ and_or)*)? -- ends before a stop word
Parsed Parser::parse_list(Stops stops) {
    Gather<Place> items(gathered_);
    while (true) {
        skip_newlines();
        if (list_at_end(stops)) break;
        Parsed item = parse_and_or();
        if (!item) return item;
        items.add(*item);
        if (!skip_separators() || list_at_end(stops)) break;
    }
    return list_node(items);
}

// and_or: pipeline (('&&' | '||') newline* pipeline)* -- nesting to the left
Parsed Parser::parse_and_or() {
    Parsed left = parse_pipeline();
    // Each link nests the chain one level deeper, so a long chain counts against the bound
    // like any other nesting: the tree is later walked recursively.
    Nest nest(depth_);
    while (left && (peek_is<tok::AndAnd>() || peek_is<tok::OrOr>())) {
        const bool is_or = peek_is<tok::OrOr>();
        advance();
        if (!nest.deepen()) {
            left = error("nesting too deep");
            break;
        }
        skip_newlines();
        Parsed right = parse_pipeline();
        if (!right) {
            left = std::move(right);
            break;
        }
        const Place node = memory_.begin(NodeKind::AndOr, is_or);
        memory_.put_place(*left);
        memory_.put_place(*right);
        *left = node;
    }
    // Every path returns the one named result, which is then built in the caller's place
    // instead of moved there.
    return left;
}

// pipeline: command ('|' newline* command)*
Parsed Parser::parse_pipeline() {
    Parsed result = parse_command();
    if (result && peek_is<tok::Pipe>()) {
        Gather<Place> stages(gathered_);
        stages.add(*result);
        while (accept<tok::Pipe>()) {
            skip_newlines();
            Parsed next = parse_command();
            if (!next) {
                result = std::move(next);
                return result;
            }
            stages.add(*next);
        }
        *result = memory_.begin(NodeKind::Pipeline);
        memory_.put_places(stages.items());
    }
    return result;  // one named result on every path, as in parse_and_or
}

// command: if | for | while | until | case | subshell | group | simple
Parsed Parser::parse_command() {
    Nest nest(depth_);
    if (!nest.deepen()) return error("nesting too deep");
    const Keyword keyword = peek_keyword();
    if (keyword == Keyword::If) return parse_if();
    if (keyword == Keyword::For) return parse_for();
    if (keyword == Keyword::While) return parse_loop(false);
    if (keyword == Keyword::Until) return parse_loop(true);
    if (keyword == Keyword::Case) return parse_case();
    if (peek_is<tok::LParen>()) return parse_subshell();
    if (peek_is<tok::LBrace>()) return parse_group();
    return parse_simple();
}

// subshell: '(' list ')'
Parsed Parser::parse_subshell() {
    advance();  // skip '('
    Parsed body = parse_list({});
    if (!body) return body;
    if (!accept<tok::RParen>()) return error_found(render_token(tok::RParen{}), peek());
    const Place node = memory_.begin(NodeKind::Subshell);
    memory_.put_place(*body);
    return node;
}

// group: '{' list '}'
Parsed Parser::parse_group() {
    advance();  // skip '{'
    Parsed body = parse_list({});
    if (!body) return body;
    if (!accept<tok::RBrace>()) return error_found("'}'", peek());
    const Place node = memory_.begin(NodeKind::Group);
    memory_.put_place(*body);
    return node;
}

// if: 'if' list 'then' list ('elif' list 'then' list)* ('else' list)? 'fi'
Parsed Parser::parse_if() {
    if (!expect_keyword(Keyword::If)) return missing(Keyword::If);
    Parsed part = Place{};
    Gather<Place> clauses(gathered_);  // each clause's condition and body
    do {
        if (!(part = parse_list(kThen))) return part;
        clauses.add(*part);
        if (!expect_keyword(Keyword::Then)) return missing(Keyword::Then);
        if (!(part = parse_list(kThenBody))) return part;
        clauses.add(*part);
    } while (expect_keyword(Keyword::Elif));
    Place else_body = 0;
    if (expect_keyword(Keyword::Else)) {
        if (!(part = parse_list(kFi))) return part;
        else_body = *part;
    }
    if (!expect_keyword(Keyword::Fi)) return missing(Keyword::Fi);
    const Place node = memory_.begin(NodeKind::If);
    memory_.put_place(else_body);
    memory_.put_places(clauses.items());
    return node;
}

// for: 'for' name ('in' word*)? (';' | newline)* 'do' list 'done'
Parsed Parser::parse_for() {
    if (!expect_keyword(Keyword::For)) return missing(Keyword::For);
    Token* var = next_token();
    auto* var_word = var ? std::get_if<TokWord>(var) : nullptr;
    if (!var_word) return error("expected variable after 'for'");
    if (!is_plain_name(var_word->segs)) return error("invalid for-loop variable");
    const Place node = memory_.begin(NodeKind::For);
    const Place body_slot = memory_.reserve_place();
    const Place words_slot = memory_.reserve_place();
    memory_.put_text(var_word->segs[0].text);
    {
        Gather<Place> words(gathered_);
        if (expect_keyword(Keyword::In)) {
            while (peek_is<TokWord>())
                words.add(take_word_item());
        }
        memory_.put_byte(item_layout::kEnd);
        memory_.patch(words_slot, memory_.here());
        memory_.put_places(words.items());
    }
    while (accept<tok::Semi>() || accept<tok::Newline>()) {
    }
    if (!expect_keyword(Keyword::Do)) return missing(Keyword::Do);
    Parsed body = parse_list(kDone);
    if (!body) return body;
    if (!expect_keyword(Keyword::Done)) return missing(Keyword::Done);
    memory_.patch(body_slot, *body);
    return node;
}

// loop: ('while' | 'until') list 'do' list 'done'
Parsed Parser::parse_loop(bool until) {
    const Keyword word = until ? Keyword::Until : Keyword::While;
    if (!expect_keyword(word)) return missing(word);
    Parsed cond = parse_list(kDo);
    if (!cond) return cond;
    if (!expect_keyword(Keyword::Do)) return missing(Keyword::Do);
    Parsed body = parse_list(kDone);
    if (!body) return body;
    if (!expect_keyword(Keyword::Done)) return missing(Keyword::Done);
    const Place node = memory_.begin(NodeKind::Loop, until);
    memory_.put_place(*cond);
    memory_.put_place(*body);
    return node;
}

// case: 'case' word 'in' newline* (case_arm newline*)* 'esac'
Parsed Parser::parse_case() {
    if (!expect_keyword(Keyword::Case)) return missing(Keyword::Case);
    Token* subject = next_token();
    auto* subject_word = subject ? std::get_if<TokWord>(subject) : nullptr;
    if (!subject_word) return error("expected word after 'case'");
    const Place node = memory_.begin(NodeKind::Case);
    const Place arms_slot = memory_.reserve_place();
    memory_.put_word(subject_word->segs);
    if (!expect_keyword(Keyword::In)) return missing(Keyword::In);
    skip_newlines();
    Gather<Place> arms(gathered_);
    while (peek() && peek_keyword() != Keyword::Esac) {
        Parsed arm = parse_case_arm();
        if (!arm) return arm;
        arms.add(*arm);
        skip_newlines();
    }
    if (!expect_keyword(Keyword::Esac)) return missing(Keyword::Esac);
    memory_.patch(arms_slot, memory_.here());
    memory_.put_places(arms.items());
    return node;
}

// case_arm: patterns (and_or (';' | '&' | newline)*)* ';;'? -- the last arm needs no ';;'.
// The arm's record: the place of its body, then its patterns as items.
Parsed Parser::parse_case_arm() {
    const Place arm = memory_.reserve_place();
    if (auto patterns = parse_case_patterns(); !patterns) return fail(std::move(patterns).error());
    Gather<Place> items(gathered_);
    while (true) {
        skip_newlines();
        if (accept<tok::DSemi>() || !peek() || peek_keyword() == Keyword::Esac) break;
        Parsed item = parse_and_or();
        if (!item) return item;
        items.add(*item);
        skip_separators();
        if (accept<tok::DSemi>()) break;
    }
    memory_.patch(arm, list_node(items));
    return arm;
}

// patterns: '('? word ('|' word)* ')'
Result<void, std::string> Parser::parse_case_patterns() {
    accept<tok::LParen>();
    while (true) {
        const Token* pattern = peek();
        if (!pattern || !std::holds_alternative<TokWord>(*pattern)) {
            return error_found("case pattern", next_token());
        }
        take_word_item();
        if (accept<tok::RParen>()) break;
        if (!accept<tok::Pipe>()) return error_found("'|' or ')' in case", peek());
    }
    memory_.put_byte(item_layout::kEnd);
    return {};
}

// simple: (assignment | redirect)* (word | redirect)* | name '(' ')' newline* command
// The record holds its items in the order they were written.
Parsed Parser::parse_simple() {
    const Place node = memory_.begin(NodeKind::Simple);
    const Place words_slot = memory_.reserve_place();
    Gather<Place> words(gathered_);
    std::uint8_t kinds = 0;  // the kinds of item written, each a bit of the record's first byte
    while (const Token* t = peek()) {
        if (std::holds_alternative<tok::Redir>(*t)) {
            if (auto redirect = parse_redirect(); !redirect)
                return fail(std::move(redirect).error());
            kinds |= kHasRedirects;
            continue;
        }
        if (!std::holds_alternative<TokWord>(*t)) break;
        if (kinds & kHasWords) {  // after a word, `NAME=` is a word too
            words.add(take_word_item());
            continue;
        }
        const TokSegs word = std::move(std::get<TokWord>(tokens_.front()).segs);
        advance();
        if (peek_is<tok::LParen>() && is_plain_name(word)) {
            // What was written before the name has no place in a definition.
            memory_.rewind(node);
            return parse_function_def(word[0].text);
        }
        if (const std::size_t name_length = assignment_name_length(word)) {
            // The word itself becomes the value once its first segment loses `NAME=`.
            memory_.put_byte(item_layout::kAssignment);
            memory_.put_text(std::string_view(word[0].text).substr(0, name_length));
            memory_.put_word(word, name_length + 1);
            kinds |= kHasAssignments;
        } else {
            words.add(put_word_item(word));
            kinds |= kHasWords;
        }
    }
    if (kinds == 0) return error("empty command");
    memory_.put_byte(item_layout::kEnd);
    memory_.mark(node, kinds);
    memory_.patch(words_slot, memory_.here());
    memory_.put_places(words.items());
    return node;
}

// redirect: REDIR word
Result<void, std::string> Parser::parse_redirect() {
    const tok::Redir op = std::get<tok::Redir>(*next_token());
    Token* target = next_token();
    auto* word = target ? std::get_if<TokWord>(target) : nullptr;
    if (!word) return error_found("redirection target", target);
    memory_.put_byte(item_layout::kRedirect | static_cast<std::uint8_t>(op.op) << 2 |
                     (op.fd ? item_layout::kHasFd : 0));
    if (op.fd) memory_.put_place(*op.fd);
    memory_.put_word(word->segs);
    return {};
}

// function_def: name '(' ')' newline* command
Parsed Parser::parse_function_def(std::string_view name) {
    advance();  // skip '('
    if (!accept<tok::RParen>()) return error_found(render_token(tok::RParen{}), peek());
    skip_newlines();
    const Place node = memory_.begin(NodeKind::FunctionDef);
    const Place body_slot = memory_.reserve_place();
    memory_.put_text(name);
    Parsed body = parse_command();
    if (!body) return body;
    memory_.patch(body_slot, *body);
    return node;
}

}  // namespace

bool is_valid_name(std::string_view text) {
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               (c >= '0' && c <= '9');
    });
}

namespace {

Result<Tree, std::string> parse_tokens(TokenList tokens, TokenStream* stream) {
    TreeMemory memory;
    Parsed root = Parser(std::move(tokens), stream, memory).parse_all();
    if (!root) return fail(std::move(root).error());
    return memory.finish(*root);
}

}  // namespace

Result<Tree, std::string> parse(TokenList tokens) {
    return parse_tokens(std::move(tokens), nullptr);
}

Result<Tree, std::string> parse_text(std::string_view text) {
    TokenStream stream(text);
    auto tree = parse_tokens({}, &stream);
    if (!tree) {
        // The text is lexed to its end all the same: an unterminated quote anywhere in it is
        // the error to report, as it is when the whole text is lexed first.
        TokenList rest;
        while (stream.read(rest))
            rest.clear();
    }
    if (stream.error()) return fail(*stream.error());
    return tree;
}

}  // namespace kiln
