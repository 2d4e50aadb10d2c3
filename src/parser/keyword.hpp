// The reserved words, and the shapes of word that keywords and names must have.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "lexer/token.hpp"

namespace kiln {

// The reserved words, in the order of kKeywords; None for any other word.
enum class Keyword : unsigned char {
    If,
    Then,
    Elif,
    Else,
    Fi,
    For,
    While,
    Until,
    Do,
    Done,
    Case,
    Esac,
    In,
    Function,
    Return,
    Break,
    Continue,
    None
};

constexpr std::array<std::string_view, 17> kKeywords = {
    "if",   "then", "elif", "else", "fi",       "for",    "while", "until",   "do",
    "done", "case", "esac", "in",   "function", "return", "break", "continue"};

inline std::string_view keyword_text(Keyword keyword) {
    return kKeywords[static_cast<std::size_t>(keyword)];
}

// A word that stands for a single unquoted text, as keywords and names must; else null.
const std::string* plain_text(const TokSegs& word);
// A single unquoted valid name.
bool is_plain_name(const TokSegs& word);
// The keyword that `word` spells, if any.
Keyword keyword_of(const TokSegs& word);

}  // namespace kiln
