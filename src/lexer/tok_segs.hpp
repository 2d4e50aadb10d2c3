// A word's pieces as the lexer reads them: quoting kinds, one piece, and the small list of
// pieces that keeps a one-piece word from allocating.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "lexer/dollar.hpp"

namespace kiln {

enum class Quote { None, Single, Double };

// What the lexer saw while it took the text of a piece: whether it may hold a dollar form,
// and whether it may hold a pattern character of its own, so that the many pieces with
// neither are not read again (paid for by the parse-only shape of bench/language.sh).
enum SegMarks : std::uint8_t { kMayHaveDollar = 1, kMayHavePattern = 2 };

// One piece of a word after quote removal, as the lexer reads it. The tree's own `Seg` views
// text copied into the tree's memory.
struct TokSeg {
    std::string text;
    Quote quote = Quote::None;
    std::uint8_t marks = 0;  // SegMarks; only a hint, so no part of a piece's value
    // The command substitutions the lexer took whole, by their offsets in `text`, so that the
    // tree has their ends without reading them again.
    std::vector<DollarForm> commands;
    bool operator==(const TokSeg& other) const {
        return text == other.text && quote == other.quote;
    }
};

// The segments of one word as the lexer reads it; a finished word is never empty. Nearly
// every word is a single segment, so that one is held inline and only a word of several
// segments allocates a list (paid for by the parse-only and script shapes of
// bench/language.sh).
class TokSegs {
public:
    using value_type = TokSeg;
    using iterator = TokSeg*;
    using const_iterator = const TokSeg*;
    using size_type = std::size_t;

    TokSegs() = default;
    explicit TokSegs(TokSeg seg) : v_(std::move(seg)) {}
    TokSegs(std::initializer_list<TokSeg> segs) {
        for (const TokSeg& seg : segs)
            push_back(seg);
    }
    TokSegs(const TokSegs&) = default;
    TokSegs& operator=(const TokSegs&) = default;
    // A moved-from word is empty, as a moved-from list would be.
    TokSegs(TokSegs&& other) noexcept : v_(std::move(other.v_)) { other.clear(); }
    TokSegs& operator=(TokSegs&& other) noexcept {
        if (this != &other) {
            v_ = std::move(other.v_);
            other.clear();
        }
        return *this;
    }
    ~TokSegs() = default;

    std::size_t size() const { return is_single() ? 1 : std::get<Many>(v_).size(); }
    bool empty() const { return size() == 0; }
    TokSeg* begin() { return is_single() ? &std::get<TokSeg>(v_) : std::get<Many>(v_).data(); }
    TokSeg* end() { return begin() + size(); }
    const TokSeg* begin() const {
        return is_single() ? &std::get<TokSeg>(v_) : std::get<Many>(v_).data();
    }
    const TokSeg* end() const { return begin() + size(); }
    TokSeg& operator[](std::size_t i) { return begin()[i]; }
    const TokSeg& operator[](std::size_t i) const { return begin()[i]; }

    void push_back(TokSeg seg) {
        if (is_single()) {
            Many many;
            many.reserve(2);
            many.push_back(std::move(std::get<TokSeg>(v_)));
            many.push_back(std::move(seg));
            v_ = std::move(many);
        } else if (std::get<Many>(v_).empty()) {
            v_.emplace<TokSeg>(std::move(seg));
        } else {
            std::get<Many>(v_).push_back(std::move(seg));
        }
    }
    void clear() noexcept { v_.emplace<Many>(); }

    bool operator==(const TokSegs& other) const {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

private:
    using Many = std::vector<TokSeg>;
    bool is_single() const { return std::holds_alternative<TokSeg>(v_); }

    std::variant<Many, TokSeg> v_;  // empty, one segment inline, or two and more
};

}  // namespace kiln
