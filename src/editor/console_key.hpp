// One key press as the console line editor sees it: a character or a named key, with the
// Ctrl and Alt modifiers. The platform adapter turns the system's key events into these.
#pragma once

#include <cstdint>

namespace kiln {

enum class KeyName : std::uint8_t {
    Char,  // a character; see Key::ch
    Enter,
    Tab,
    Backspace,
    Delete,
    Escape,
    Left,
    Right,
    Up,
    Down,
    Home,
    End,
};

struct Key {
    KeyName name = KeyName::Char;
    char32_t ch = 0;  // for KeyName::Char; a Ctrl or Alt letter is given in lower case
    bool ctrl = false;
    bool alt = false;

    bool is(KeyName n) const { return name == n; }
    // Ctrl and the letter `c` (lower case), without Alt.
    bool is_ctrl(char c) const {
        return name == KeyName::Char && ctrl && !alt && ch == static_cast<char32_t>(c);
    }
    // Alt and the character `c`, without Ctrl.
    bool is_alt(char c) const {
        return name == KeyName::Char && alt && !ctrl && ch == static_cast<char32_t>(c);
    }
    // A character to insert: neither Ctrl nor Alt, and not a control character.
    bool is_text() const {
        return name == KeyName::Char && !ctrl && !alt && ch >= 0x20 && ch != 0x7F &&
               !(ch >= 0x80 && ch < 0xA0) && !(ch >= 0xD800 && ch <= 0xDFFF) && ch <= 0x10FFFF;
    }
};

inline Key text_key(char32_t ch) {
    return Key{KeyName::Char, ch, false, false};
}
inline Key ctrl_key(char c) {
    return Key{KeyName::Char, static_cast<char32_t>(c), true, false};
}
inline Key alt_key(char c) {
    return Key{KeyName::Char, static_cast<char32_t>(c), false, true};
}
inline Key named_key(KeyName name, bool ctrl = false, bool alt = false) {
    return Key{name, 0, ctrl, alt};
}

}  // namespace kiln
