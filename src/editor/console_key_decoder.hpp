// Key events as the Windows console reports them, turned into the console editor's keys. The
// event is given as a plain record so that the rules are the same, and tested, everywhere.
#pragma once

#include <cstdint>
#include <optional>

#include "editor/console_key.hpp"

namespace kiln {

// The virtual-key codes the decoder looks at (the console's own values).
namespace vk {
inline constexpr std::uint16_t Back = 0x08, Tab = 0x09, Return = 0x0D, Menu = 0x12, Escape = 0x1B,
                               End = 0x23, Home = 0x24, Left = 0x25, Up = 0x26, Right = 0x27,
                               Down = 0x28, Delete = 0x2E;
}

struct ConsoleKeyEvent {
    bool down = true;
    std::uint16_t virtual_key = 0;
    char16_t unit = 0;  // the UTF-16 code unit typed, 0 for none
    bool ctrl = false;  // either Ctrl key
    bool alt = false;   // either Alt key
};

// Keeps the first half of a surrogate pair until the second arrives.
class KeyDecoder {
public:
    // The key for the event; nothing for releases, lone modifier keys, keys the editor does
    // not use and the first half of a pair.
    std::optional<Key> decode(const ConsoleKeyEvent& event);

private:
    std::optional<Key> character(char16_t unit, bool ctrl, bool alt);

    char16_t high_ = 0;
};

}  // namespace kiln
