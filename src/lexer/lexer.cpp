// The lexer: one pass over the text, removing quotes and recording how each piece of a word
// was quoted. Only ASCII characters have a meaning of their own, so the scan walks bytes and
// decodes UTF-8 only where a whole character is taken (after a backslash); the bytes of a
// word, valid UTF-8 or not, reach its segments unchanged.
#include "lexer/lexer.hpp"

#include <utility>

#include "common/text.hpp"
#include "lexer/dollar.hpp"

namespace kiln {
namespace {

constexpr std::string_view kDoubleQuoteSpecials = "\\\"$";

// Characters that end a run of ordinary word characters.
bool ends_ordinary_run(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
        case ';':
        case '|':
        case '&':
        case '(':
        case ')':
        case '<':
        case '>':
        case '\'':
        case '"':
        case '\\':
        case '$':
        case '*':
        case '?':
        case '[':
            return true;
        default:
            return false;
    }
}

// After an unquoted backslash these stand for themselves alone.
bool is_escapable(char32_t cp) {
    constexpr std::u32string_view kPunct = U"\"`#$&'()*;<>?[\\{|}~";
    return is_unicode_space(cp) || kPunct.find(cp) != std::u32string_view::npos;
}

// Notes a command substitution of `length` bytes taken into a piece's text at `at`, for the
// tree to know its end without reading it again; one past the offsets' reach is read again.
void record_command(std::vector<DollarForm>& commands, std::size_t at, std::size_t length) {
    if (at + length > UINT32_MAX) return;
    commands.push_back(DollarForm{static_cast<std::uint32_t>(at),
                                  static_cast<std::uint32_t>(at + length),
                                  DollarForm::Kind::Command});
}

// A `{` with no word in progress is a brace only when a separator follows it.
bool is_brace_follower(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
        case '&':
        case '(':
        case ')':
        case ';':
        case '|':
            return true;
        default:
            return false;
    }
}

bool all_ascii_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    // Appends the tokens of the next steps to `out`, a batch of them so that the call costs
    // little per token; false once the text is done or an error stopped the scan.
    bool read(TokenList& out) {
        constexpr std::size_t kBatch = 64;
        out_ = &out;
        const std::size_t before = emitted_;
        while (pos_ < text_.size() && emitted_ - before < kBatch) {
            auto step = read_next();
            if (!step) {
                error_ = std::move(step).error();
                pos_ = text_.size();
                done_ = true;
            }
        }
        if (pos_ == text_.size() && !done_) {
            end_word();
            done_ = true;
        }
        return !error_ && emitted_ != before;
    }

    const std::optional<std::string>& error() const { return error_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::string pending_;                       // the current unquoted run of the word being built
    std::uint8_t pending_marks_ = 0;            // SegMarks of pending_
    std::vector<DollarForm> pending_commands_;  // the command substitutions in pending_
    TokSegs segs_;                              // finished segments of that word
    bool in_word_ = false;
    bool done_ = false;  // the last word was ended, or an error stopped the scan
    std::optional<std::string> error_;
    TokenList* out_ = nullptr;  // where tokens go
    std::size_t emitted_ = 0;   // tokens made so far

    template <class... Args>
    void emit(Args&&... args) {
        out_->emplace_back(std::forward<Args>(args)...);
        ++emitted_;
    }

    bool next_is(char c) const { return pos_ + 1 < text_.size() && text_[pos_ + 1] == c; }

    void flush_pending() {
        if (pending_.empty()) return;
        segs_.push_back(
            TokSeg{std::move(pending_), Quote::None, pending_marks_, std::move(pending_commands_)});
        pending_.clear();
        pending_marks_ = 0;
        pending_commands_.clear();
    }

    void end_word() {
        if (!in_word_) return;
        // Most words are one unquoted run: it becomes the word's only segment directly.
        if (segs_.empty() && !pending_.empty()) {
            emit(std::in_place_type<TokWord>,
                 TokSegs(TokSeg{std::move(pending_), Quote::None, pending_marks_,
                                std::move(pending_commands_)}));
            pending_.clear();
            pending_marks_ = 0;
            pending_commands_.clear();
            in_word_ = false;
            return;
        }
        flush_pending();
        // Built in place: a word moved through a temporary costs a copy of its short text.
        if (!segs_.empty()) emit(std::in_place_type<TokWord>, std::move(segs_));
        segs_.clear();
        in_word_ = false;
    }

    Result<void, std::string> read_next();
    void skip_comment();
    void read_operator();
    void read_redirection();
    std::optional<std::uint32_t> take_fd_prefix();
    void read_open_brace();
    void read_ordinary();
    void read_backslash();
    Result<void, std::string> read_dollar();
    Result<void, std::string> read_dollar_paren();
    Result<void, std::string> read_single_quoted();
    Result<void, std::string> read_double_quoted();
};

// Dispatches on the character at pos_; every branch consumes at least one character.
Result<void, std::string> Lexer::read_next() {
    const char c = text_[pos_];
    switch (c) {
        case '#':
            if (in_word_) {
                read_ordinary();
            } else {
                skip_comment();
            }
            return {};
        case ' ':
        case '\t':
        case '\r':
            end_word();
            ++pos_;
            return {};
        case '\n':
            end_word();
            emit(tok::Newline{});
            ++pos_;
            return {};
        case ';':
        case '|':
        case '&':
        case '(':
        case ')':
            read_operator();
            return {};
        case '<':
        case '>':
            read_redirection();
            return {};
        case '{':
            read_open_brace();
            return {};
        case '}':
            if (in_word_) {
                read_ordinary();
            } else {
                emit(tok::RBrace{});
                ++pos_;
            }
            return {};
        case '\'':
            return read_single_quoted();
        case '"':
            return read_double_quoted();
        case '\\':
            read_backslash();
            return {};
        case '$':
            return read_dollar();
        case '*':
        case '?':
        case '[':
            pending_marks_ |= kMayHavePattern;
            read_ordinary();
            return {};
        default:
            read_ordinary();
            return {};
    }
}

// The line feed that ends a comment is left for the main loop to turn into Newline.
void Lexer::skip_comment() {
    const std::size_t eol = text_.find('\n', pos_);
    pos_ = eol == std::string_view::npos ? text_.size() : eol;
}

// `;` `;;` `|` `||` `&` `&&` `(` `)`: each ends the word before it.
void Lexer::read_operator() {
    end_word();
    const char c = text_[pos_];
    const bool doubled = next_is(c);
    switch (c) {
        case ';':
            emit(doubled ? Token{tok::DSemi{}} : Token{tok::Semi{}});
            break;
        case '|':
            emit(doubled ? Token{tok::OrOr{}} : Token{tok::Pipe{}});
            break;
        case '&':
            emit(doubled ? Token{tok::AndAnd{}} : Token{tok::Amp{}});
            break;
        case '(':
            emit(tok::LParen{});
            pos_ += 1;
            return;
        default:
            emit(tok::RParen{});
            pos_ += 1;
            return;
    }
    pos_ += doubled ? 2 : 1;
}

// `<`, `>` and `>>`, with the digits just before them as the descriptor.
void Lexer::read_redirection() {
    const std::optional<std::uint32_t> fd = take_fd_prefix();
    end_word();
    if (text_[pos_] == '<') {
        emit(tok::Redir{fd, RedirOp::In});
        pos_ += 1;
    } else if (next_is('>')) {
        emit(tok::Redir{fd, RedirOp::Append});
        pos_ += 2;
    } else {
        emit(tok::Redir{fd, RedirOp::Out});
        pos_ += 1;
    }
}

// An unquoted run of digits right before a redirection operator is its descriptor. Digits
// too large for a descriptor are dropped all the same, leaving the descriptor absent.
std::optional<std::uint32_t> Lexer::take_fd_prefix() {
    if (!all_ascii_digits(pending_)) return std::nullopt;
    const std::optional<std::uint32_t> fd = parse_uint32(pending_);
    pending_.clear();
    pending_marks_ = 0;
    return fd;
}

void Lexer::read_open_brace() {
    if (in_word_) {
        read_ordinary();
        return;
    }
    if (pos_ + 1 == text_.size() || is_brace_follower(text_[pos_ + 1])) {
        emit(tok::LBrace{});
        ++pos_;
        return;
    }
    pending_ += '{';  // `{a,b}` and `{}` are words
    in_word_ = true;
    ++pos_;
}

// Takes the character at pos_ and every following byte up to the next character with a
// meaning of its own. Inside a word `#`, `{` and `}` are ordinary, so they do not stop it.
void Lexer::read_ordinary() {
    const std::size_t start = pos_++;
    while (pos_ < text_.size() && !ends_ordinary_run(text_[pos_]))
        ++pos_;
    pending_.append(text_.substr(start, pos_ - start));
    in_word_ = true;
}

// An unquoted backslash: line continuation, an escaped character, or an ordinary backslash
// (so that `C:\Users` keeps its backslashes).
void Lexer::read_backslash() {
    in_word_ = true;
    if (pos_ + 1 == text_.size()) {
        pending_ += '\\';
        ++pos_;
        return;
    }
    // A continuation: the backslash and the line end vanish, also when the line ends in CR LF.
    const std::size_t line_end = text_.substr(pos_ + 1, 2) == "\r\n" ? 2 : 1;
    if (text_[pos_ + line_end] == '\n') {
        pos_ += 1 + line_end;
        return;
    }
    const Decoded next = decode_utf8(text_, pos_ + 1);
    if (!is_escapable(next.cp)) {
        pending_ += '\\';
        ++pos_;
        return;
    }
    flush_pending();
    segs_.push_back(TokSeg{std::string(text_.substr(pos_ + 1, next.len)), Quote::Single, 0, {}});
    pos_ += 1 + next.len;
}

Result<void, std::string> Lexer::read_dollar() {
    pending_marks_ |= kMayHaveDollar;
    if (next_is('(')) return read_dollar_paren();
    pending_ += '$';  // `$HOME` and `${HOME}` stay as typed for expansion
    in_word_ = true;
    ++pos_;
    return {};
}

// `$(` ... `)`, kept verbatim in the unquoted run up to the parenthesis that balances it;
// quotes inside mean nothing here. An unbalanced `$(` runs to the end of the text.
Result<void, std::string> Lexer::read_dollar_paren() {
    const std::size_t start = pos_;
    auto end = find_command_end(text_, pos_ + 2, false);
    if (!end) return fail(std::move(end).error());
    if (*end == std::string_view::npos) {
        pending_marks_ |= kMayHavePattern;  // its text is then read as text of the word
        pos_ = text_.size();
    } else {
        pos_ = *end;
        record_command(pending_commands_, pending_.size(), pos_ - start);
    }
    pending_.append(text_.substr(start, pos_ - start));
    in_word_ = true;
    return {};
}

Result<void, std::string> Lexer::read_single_quoted() {
    const std::size_t close = text_.find('\'', pos_ + 1);
    if (close == std::string_view::npos) return fail(std::string("unterminated single quote"));
    flush_pending();
    segs_.push_back(
        TokSeg{std::string(text_.substr(pos_ + 1, close - pos_ - 1)), Quote::Single, 0, {}});
    in_word_ = true;
    pos_ = close + 1;
    return {};
}

// Inside double quotes a backslash escapes only `"`, `\`, the backquote and `$`; before any
// other character it is kept. An escaped `$` must stay a literal dollar sign, and Double text
// is scanned for dollar forms later, so it closes the Double segment and goes into a Single
// segment of its own. A `$(` is taken verbatim up to the parenthesis that closes it, so that
// the quotes of the command inside belong to it and not to this text.
Result<void, std::string> Lexer::read_double_quoted() {
    flush_pending();
    std::string text;
    std::uint8_t marks = 0;            // SegMarks of text
    std::vector<DollarForm> commands;  // the command substitutions in text
    bool made_segment = false;
    std::size_t i = pos_ + 1;
    while (true) {
        const std::size_t j = text_.find_first_of(kDoubleQuoteSpecials, i);
        if (j == std::string_view::npos) return fail(std::string("unterminated double quote"));
        text.append(text_.substr(i, j - i));
        const char next = j + 1 < text_.size() ? text_[j + 1] : '\0';
        if (text_[j] == '"') {
            i = j + 1;
            break;
        }
        if (text_[j] == '$') {
            marks |= kMayHaveDollar;
            if (next != '(') {
                text += '$';
                i = j + 1;
                continue;
            }
            auto end = find_command_end(text_, j + 2, true);
            if (!end) return fail(std::move(end).error());
            // Unclosed, it takes the rest of the text, and the double quote is then unclosed.
            if (*end == std::string_view::npos)
                return fail(std::string("unterminated double quote"));
            record_command(commands, text.size(), *end - j);
            text.append(text_.substr(j, *end - j));
            i = *end;
        } else if (next == '"' || next == '\\' || next == '`') {
            text += next;
            i = j + 2;
        } else if (next == '$') {
            if (!text.empty()) {
                segs_.push_back(TokSeg{std::exchange(text, {}), Quote::Double, marks,
                                       std::exchange(commands, {})});
            }
            marks = 0;
            segs_.push_back(TokSeg{"$", Quote::Single, 0, {}});
            made_segment = true;
            i = j + 2;
        } else {
            text += '\\';
            i = j + 1;
        }
    }
    if (!text.empty() || !made_segment) {
        segs_.push_back(TokSeg{std::move(text), Quote::Double, marks, std::move(commands)});
    }
    in_word_ = true;
    pos_ = i;
    return {};
}

}  // namespace

Result<TokenList, std::string> tokenize(std::string_view text) {
    Lexer lexer(text);
    TokenList tokens;
    while (lexer.read(tokens)) {
    }
    if (lexer.error()) return fail(*lexer.error());
    return tokens;
}

struct TokenStream::State {
    Lexer lexer;
};

TokenStream::TokenStream(std::string_view text) : state_(std::make_unique<State>(Lexer(text))) {}
TokenStream::~TokenStream() = default;

bool TokenStream::read(TokenList& out) {
    return state_->lexer.read(out);
}

const std::optional<std::string>& TokenStream::error() const {
    return state_->lexer.error();
}

}  // namespace kiln
