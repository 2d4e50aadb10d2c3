// Recognising the reserved words without comparing every word against all seventeen: the
// parser asks for nearly every word it meets.
#include "parser/keyword.hpp"

#include <initializer_list>

#include "parser/node.hpp"

namespace kiln {

const std::string* plain_text(const TokSegs& word) {
    if (word.size() != 1 || word[0].quote != Quote::None) return nullptr;
    return &word[0].text;
}

bool is_plain_name(const TokSegs& word) {
    const std::string* text = plain_text(word);
    return text && is_valid_name(*text);
}

// The first letter leaves at most three candidates.
Keyword keyword_of(const TokSegs& word) {
    const std::string* text = plain_text(word);
    // Every keyword is two to eight lowercase letters: most words are ruled out at once.
    if (!text || text->size() < 2 || text->size() > 8) return Keyword::None;
    const std::string_view t = *text;
    const auto either = [t](std::initializer_list<Keyword> candidates) {
        for (const Keyword k : candidates) {
            if (keyword_text(k) == t) return k;
        }
        return Keyword::None;
    };
    switch (t[0]) {
        case 'b':
            return either({Keyword::Break});
        case 'c':
            return either({Keyword::Case, Keyword::Continue});
        case 'd':
            return either({Keyword::Do, Keyword::Done});
        case 'e':
            return either({Keyword::Elif, Keyword::Else, Keyword::Esac});
        case 'f':
            return either({Keyword::Fi, Keyword::For, Keyword::Function});
        case 'i':
            return either({Keyword::If, Keyword::In});
        case 'r':
            return either({Keyword::Return});
        case 't':
            return either({Keyword::Then});
        case 'u':
            return either({Keyword::Until});
        case 'w':
            return either({Keyword::While});
        default:
            return Keyword::None;
    }
}

}  // namespace kiln
