// The Windows console as the editor draws on it: a screen that takes escape sequences when
// the console allows them (Windows 10's VT mode), and otherwise the classic console calls,
// which every version has. ScreenOutput turns the editor's few sequences into those calls, so
// that the prompt and the editing still show on Windows 7, 8.1 and the legacy console.
#pragma once

#include <cstddef>
#include <string_view>

#include "editor/console_editor.hpp"

namespace kiln {

struct ScreenPos {
    std::size_t col = 0;
    std::size_t row = 0;  // in the whole buffer, not the window
};

struct ScreenInfo {
    std::size_t columns = 80;
    std::size_t rows = 25;  // of the buffer
    std::size_t window_top = 0;
    std::size_t window_rows = 25;
    ScreenPos cursor;
};

// One console screen buffer; the Windows adapter makes the system calls, the tests keep a grid.
class ConsoleScreen {
public:
    virtual ~ConsoleScreen() = default;
    // Asks for escape-sequence processing; false when the console refuses it.
    virtual bool enable_vt() = 0;
    // Text at the cursor, which moves on; CR and LF move it, a full row wraps.
    virtual void write_text(std::string_view utf8) = 0;
    // False when the buffer cannot be examined.
    virtual bool info(ScreenInfo& out) = 0;
    virtual void set_cursor(ScreenPos pos) = 0;
    // Blanks `count` cells from `from` on, row after row, leaving the cursor where it is.
    virtual void blank(ScreenPos from, std::size_t count) = 0;
};

// The editor's output on a screen: passed on unchanged in VT mode, else its sequences are
// carried out by the classic calls and colours are left out (the prompt shows plain).
class ScreenOutput : public ConsoleOutput {
public:
    explicit ScreenOutput(ConsoleScreen& screen) : screen_(screen), vt_(screen.enable_vt()) {}

    bool vt() const { return vt_; }
    void write(std::string_view bytes) override;
    // Lines wrap at the buffer's width; a page is what the window shows.
    ConsoleSize size() override;
    std::size_t cursor_col();

private:
    void sequence(std::string_view params, char final);

    ConsoleScreen& screen_;
    bool vt_;
};

}  // namespace kiln
