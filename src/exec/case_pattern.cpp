// Shell patterns for `case`: compiled into a list of pieces, then matched with backtracking
// over the last star, character by character (code points, so `?` takes a whole character).
#include "exec/case_pattern.hpp"

#include <optional>
#include <vector>

#include "common/text.hpp"

namespace kiln {
namespace {

struct Range {
    char32_t lo;
    char32_t hi;
};

struct Piece {
    enum Kind { Literal, AnyChar, AnyRun, Set };
    explicit Piece(Kind k, char32_t c = 0) : kind(k), ch(c) {}
    Kind kind;
    char32_t ch;                // Literal
    std::vector<Range> ranges;  // Set
    bool negated = false;       // Set
};

std::vector<char32_t> code_points(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decode_utf8(text, pos);
        out.push_back(d.cp);
        pos += d.len;
    }
    return out;
}

bool is_separator(char32_t c) {
    return c == '/' || c == '\\';
}

// `[...]` starting at p[i] == '['; a ']' right after the opening (or after '!') is literal.
std::optional<Piece> compile_set(const std::vector<char32_t>& p, std::size_t& i) {
    Piece piece(Piece::Set);
    ++i;
    if (i < p.size() && p[i] == '!') {
        piece.negated = true;
        ++i;
    }
    const std::size_t first = i;
    while (i < p.size() && (p[i] != ']' || i == first)) {
        if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
            piece.ranges.push_back({p[i], p[i + 2]});
            i += 3;
        } else {
            piece.ranges.push_back({p[i], p[i]});
            ++i;
        }
    }
    if (i >= p.size()) return std::nullopt;  // unclosed class
    ++i;
    return piece;
}

// A run of stars: one or two; two only as a whole path component.
bool compile_stars(const std::vector<char32_t>& p, std::size_t& i) {
    std::size_t n = 0;
    const std::size_t start = i;
    while (i < p.size() && p[i] == '*')
        ++n, ++i;
    if (n == 1) return true;
    if (n > 2) return false;
    const bool starts_component = start == 0 || is_separator(p[start - 1]);
    const bool ends_component = i == p.size() || is_separator(p[i]);
    return starts_component && ends_component;
}

std::optional<std::vector<Piece>> compile(std::string_view pattern) {
    const std::vector<char32_t> p = code_points(pattern);
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < p.size();) {
        if (p[i] == '*') {
            if (!compile_stars(p, i)) return std::nullopt;
            pieces.emplace_back(Piece::AnyRun);
        } else if (p[i] == '?') {
            pieces.emplace_back(Piece::AnyChar);
            ++i;
        } else if (p[i] == '[') {
            auto set = compile_set(p, i);
            if (!set) return std::nullopt;
            pieces.push_back(std::move(*set));
        } else {
            pieces.emplace_back(Piece::Literal, p[i]);
            ++i;
        }
    }
    return pieces;
}

bool matches_one(const Piece& piece, char32_t c) {
    switch (piece.kind) {
        case Piece::Literal:
            return piece.ch == c;
        case Piece::AnyChar:
            return true;
        case Piece::Set: {
            bool in = false;
            for (const Range& r : piece.ranges)
                in = in || (r.lo <= c && c <= r.hi);
            return in != piece.negated;
        }
        case Piece::AnyRun:
            break;
    }
    return false;
}

bool match(const std::vector<Piece>& pieces, const std::vector<char32_t>& text) {
    std::size_t pi = 0;
    std::size_t ti = 0;
    std::optional<std::size_t> star;  // piece index after the last star
    std::size_t star_text = 0;        // text position that star currently swallows up to
    while (ti < text.size()) {
        if (pi < pieces.size() && pieces[pi].kind == Piece::AnyRun) {
            star = ++pi;
            star_text = ti;
        } else if (pi < pieces.size() && matches_one(pieces[pi], text[ti])) {
            ++pi, ++ti;
        } else if (star) {
            pi = *star;
            ti = ++star_text;
        } else {
            return false;
        }
    }
    while (pi < pieces.size() && pieces[pi].kind == Piece::AnyRun)
        ++pi;
    return pi == pieces.size();
}

}  // namespace

bool case_pattern_matches(std::string_view pattern, std::string_view text) {
    const auto pieces = compile(pattern);
    return pieces && match(*pieces, code_points(text));
}

}  // namespace kiln
