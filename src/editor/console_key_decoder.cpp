// Console key events to editor keys: named keys by their virtual-key code, characters by
// their UTF-16 units, Ctrl and a letter by the control character the console reports.
#include "editor/console_key_decoder.hpp"

namespace kiln {
namespace {

char32_t ascii_lower(char32_t c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

std::optional<KeyName> named_key_of(std::uint16_t code) {
    switch (code) {
        case vk::Return:
            return KeyName::Enter;
        case vk::Tab:
            return KeyName::Tab;
        case vk::Back:
            return KeyName::Backspace;
        case vk::Delete:
            return KeyName::Delete;
        case vk::Escape:
            return KeyName::Escape;
        case vk::Left:
            return KeyName::Left;
        case vk::Right:
            return KeyName::Right;
        case vk::Up:
            return KeyName::Up;
        case vk::Down:
            return KeyName::Down;
        case vk::Home:
            return KeyName::Home;
        case vk::End:
            return KeyName::End;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<Key> KeyDecoder::decode(const ConsoleKeyEvent& event) {
    if (!event.down) {
        // A character typed as Alt and digits on the number pad comes with Alt's release.
        if (event.virtual_key == vk::Menu && event.unit != 0)
            return character(event.unit, false, false);
        return std::nullopt;
    }
    if (auto named = named_key_of(event.virtual_key)) {
        high_ = 0;
        return named_key(*named, event.ctrl, event.alt);
    }
    if (event.unit == 0) {
        // Some layouts report Ctrl and a letter without a character.
        const std::uint16_t code = event.virtual_key;
        if (event.ctrl && !event.alt && code >= 'A' && code <= 'Z') {
            return ctrl_key(static_cast<char>(code - 'A' + 'a'));
        }
        return std::nullopt;
    }
    return character(event.unit, event.ctrl, event.alt);
}

std::optional<Key> KeyDecoder::character(char16_t unit, bool ctrl, bool alt) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
        return std::nullopt;
    }
    char32_t cp = unit;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (high_ == 0) return std::nullopt;  // half a pair: nothing to insert
        cp = 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (unit - 0xDC00u);
    }
    high_ = 0;
    if (cp < 0x20) {
        if (cp == 0x1B) return named_key(KeyName::Escape);
        if (cp >= 1 && cp <= 26) return ctrl_key(static_cast<char>('a' + cp - 1));
        return std::nullopt;
    }
    // Right Alt on many layouts is Ctrl and Alt together, and types a character.
    if (alt && !ctrl) return Key{KeyName::Char, ascii_lower(cp), false, true};
    return text_key(cp);
}

}  // namespace kiln
