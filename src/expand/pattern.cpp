// Filename patterns: compiling a pattern and matching a whole string against it.
#include "expand/pattern.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

using Kind = PatternToken::Kind;

bool is_sep_cp(char32_t cp) {
    return cp < 0x80 && platform::is_separator(static_cast<char>(cp));
}

// set: '[' '!'? member member* ']'   with member: char ('-' char)?
// The first member may be ']'. Returns the index just after the closing ']', or npos.
Result<std::size_t, std::string> parse_set(std::string_view text, std::size_t pos,
                                           PatternToken& token) {
    token.kind = Kind::Set;
    std::size_t i = pos + 1;  // skip '['
    if (i < text.size() && text[i] == '!') {
        token.negated = true;
        ++i;
    }
    bool first = true;
    while (i < text.size()) {
        if (text[i] == ']' && !first) return i + 1;
        first = false;
        const Decoded lo = decode_utf8(text, i);
        i += lo.len;
        char32_t hi = lo.cp;
        // A '-' makes a range unless it is the last member ("[a-]").
        if (i + 1 < text.size() && text[i] == '-' && text[i + 1] != ']') {
            const Decoded end = decode_utf8(text, i + 1);
            hi = end.cp;
            i += 1 + end.len;
        }
        token.ranges.push_back({lo.cp, hi});
    }
    return fail(std::string("unclosed '[' in pattern"));
}

// A run of stars at `pos`: one star, or "**" forming a whole path component.
Result<std::size_t, std::string> parse_stars(std::string_view text, std::size_t pos,
                                             PatternToken& token) {
    std::size_t end = pos;
    while (end < text.size() && text[end] == '*')
        ++end;
    if (end - pos == 1) {
        token.kind = Kind::Star;
        return end;
    }
    const bool starts_component = pos == 0 || platform::is_separator(text[pos - 1]);
    const bool ends_component = end == text.size() || platform::is_separator(text[end]);
    if (end - pos != 2 || !starts_component || !ends_component) {
        return fail(std::string("'**' must be a whole path component"));
    }
    token.kind = Kind::AnyDirs;
    token.with_sep = end < text.size();
    return token.with_sep ? end + 1 : end;
}

bool set_contains(const PatternToken& set, char32_t cp) {
    const bool found = std::any_of(set.ranges.begin(), set.ranges.end(),
                                   [cp](const auto& r) { return r.lo <= cp && cp <= r.hi; });
    return found != set.negated;
}

// Advances the set of reachable subject positions over one token; `next` is overwritten.
// Returns false when no position is reachable any more.
bool step(const PatternToken& token, const std::vector<char32_t>& subject,
          const std::vector<unsigned char>& cur, std::vector<unsigned char>& next) {
    const std::size_t n = subject.size();
    bool any_reached = false;
    bool before = false;  // some position before j is reachable
    next[0] = 0;
    for (std::size_t j = 0; j <= n; ++j) {
        unsigned char reach = 0;
        switch (token.kind) {
            case Kind::Char:
                reach = j > 0 && cur[j - 1] && subject[j - 1] == token.ch;
                break;
            case Kind::Any:
                reach = j > 0 && cur[j - 1];
                break;
            case Kind::Set:
                reach = j > 0 && cur[j - 1] && set_contains(token, subject[j - 1]);
                break;
            case Kind::Star:
                reach = before || cur[j];
                break;
            case Kind::AnyDirs:
                // "**/" consumes nothing, or a run that ends in a separator; a final "**"
                // consumes anything.
                reach = cur[j] || (before && (!token.with_sep || is_sep_cp(subject[j - 1])));
                break;
        }
        next[j] = reach;
        before = before || cur[j];
        any_reached = any_reached || reach;
    }
    return any_reached;
}

// The character at `pos`: ASCII directly, anything else through the decoder.
Decoded char_at(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) return {byte, 1};
    return decode_utf8(text, pos);
}

// Whether a token that takes exactly one character takes `cp`.
bool takes(const PatternToken& token, char32_t cp) {
    switch (token.kind) {
        case Kind::Char:
            return token.ch == cp;
        case Kind::Any:
            return true;
        case Kind::Set:
            return set_contains(token, cp);
        case Kind::Star:
        case Kind::AnyDirs:
            break;
    }
    return false;
}

// Matching for a pattern without `**`: every token but `*` takes one character, so when a
// token fails, only the last star before it needs to take one character more. One pass over
// the subject settles nearly every pattern, and a literal prefix rules most names out within
// a few bytes.
bool match_stars(std::span<const PatternToken> tokens, std::string_view subject) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t t = 0;
    std::size_t s = 0;
    std::size_t star_t = kNone;  // the token after the last star passed, and where it began
    std::size_t star_s = 0;
    while (s < subject.size()) {
        if (t < tokens.size() && tokens[t].kind == Kind::Star) {
            star_t = ++t;
            star_s = s;
            if (star_t == tokens.size()) return true;  // a final star takes all the rest
            continue;
        }
        const Decoded d = char_at(subject, s);
        if (t < tokens.size() && takes(tokens[t], d.cp)) {
            ++t;
            s += d.len;
            continue;
        }
        if (star_t == kNone) return false;
        t = star_t;
        star_s += char_at(subject, star_s).len;
        s = star_s;
    }
    while (t < tokens.size() && tokens[t].kind == Kind::Star)
        ++t;
    return t == tokens.size();
}

}  // namespace

Result<Pattern, std::string> Pattern::compile(std::string_view text) {
    Pattern pattern;
    std::size_t i = 0;
    while (i < text.size()) {
        PatternToken token;
        if (text[i] == '[') {
            auto end = parse_set(text, i, token);
            if (!end) return fail(end.error());
            i = *end;
        } else if (text[i] == '*') {
            auto end = parse_stars(text, i, token);
            if (!end) return fail(end.error());
            i = *end;
        } else if (text[i] == '?') {
            token.kind = Kind::Any;
            ++i;
        } else {
            const Decoded d = decode_utf8(text, i);
            token.ch = d.cp;
            i += d.len;
        }
        pattern.any_dirs_ = pattern.any_dirs_ || token.kind == Kind::AnyDirs;
        pattern.tokens_.push_back(std::move(token));
    }
    return pattern;
}

bool Pattern::matches(std::string_view subject) const {
    if (!any_dirs_) return match_stars(tokens_, subject);
    // With `**` the set of reachable positions is carried token by token. Positions are counted in
    // characters; the subject is decoded once.
    thread_local std::vector<char32_t> chars;
    thread_local std::vector<unsigned char> cur;
    thread_local std::vector<unsigned char> next;
    chars.clear();
    for (std::size_t i = 0; i < subject.size();) {
        const Decoded d = decode_utf8(subject, i);
        chars.push_back(d.cp);
        i += d.len;
    }
    cur.assign(chars.size() + 1, 0);
    next.assign(chars.size() + 1, 0);
    cur[0] = 1;
    for (const PatternToken& token : tokens_) {
        if (!step(token, chars, cur, next)) return false;
        cur.swap(next);
    }
    return cur[chars.size()] != 0;
}

std::size_t set_end(std::string_view text, std::size_t open) {
    PatternToken scratch;
    const auto end = parse_set(text, open, scratch);
    return end ? *end : std::string_view::npos;
}

bool has_pattern_chars(std::string_view text) {
    return text.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace kiln
