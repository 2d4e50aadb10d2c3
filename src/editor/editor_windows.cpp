// The line editor on Windows: the console editor fed with the console's key events when
// standard input is a console, plain line reads otherwise. It draws with escape sequences
// where the console takes them and with the classic console calls where it does not.
//
// While a line is read the console's input is switched to raw key events, with processed
// input off so that Ctrl-C arrives as a key; the mode is put back before the line is
// returned, so a program started for the line gets Ctrl-C as usual.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/console_editor.hpp"
#include "editor/console_key_decoder.hpp"
#include "editor/console_screen.hpp"
#include "editor/line_editor.hpp"
#include "platform/platform.hpp"
#include "platform/windows_detail.hpp"

namespace kiln {
namespace {

using platform::detail::last_error;

bool console_mode(HANDLE h, DWORD& mode) {
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// A console screen buffer through the system's calls.
class WindowsScreen : public ConsoleScreen {
public:
    explicit WindowsScreen(HANDLE out) : out_(out) {}

    bool enable_vt() override {
        DWORD mode = 0;
        if (!console_mode(out_, mode)) return false;
        if (SetConsoleMode(out_,
                           mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
            return true;
        }
        // Refused (before Windows 10, or its legacy console): CR and LF must still work.
        (void)SetConsoleMode(out_, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
        return false;
    }

    void write_text(std::string_view utf8) override { platform::detail::write_console(out_, utf8); }

    bool info(ScreenInfo& out) override {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out_, &info)) return false;
        const auto at_least_1 = [](SHORT n) {
            return static_cast<std::size_t>(std::max<SHORT>(n, 1));
        };
        out.columns = at_least_1(info.dwSize.X);
        out.rows = at_least_1(info.dwSize.Y);
        out.window_top = static_cast<std::size_t>(std::max<SHORT>(info.srWindow.Top, 0));
        out.window_rows = at_least_1(info.srWindow.Bottom - info.srWindow.Top + 1);
        out.cursor = {static_cast<std::size_t>(std::max<SHORT>(info.dwCursorPosition.X, 0)),
                      static_cast<std::size_t>(std::max<SHORT>(info.dwCursorPosition.Y, 0))};
        return true;
    }

    void set_cursor(ScreenPos pos) override { SetConsoleCursorPosition(out_, coord(pos)); }

    // Blank cells take the colours of the text written now.
    void blank(ScreenPos from, std::size_t count) override {
        CONSOLE_SCREEN_BUFFER_INFO info;
        DWORD done = 0;
        const auto cells = static_cast<DWORD>(count);
        FillConsoleOutputCharacterW(out_, L' ', cells, coord(from), &done);
        if (GetConsoleScreenBufferInfo(out_, &info)) {
            FillConsoleOutputAttribute(out_, info.wAttributes, cells, coord(from), &done);
        }
    }

private:
    static COORD coord(ScreenPos pos) {
        constexpr std::size_t kMax = 0x7FFF;
        return {static_cast<SHORT>(std::min(pos.col, kMax)),
                static_cast<SHORT>(std::min(pos.row, kMax))};
    }

    HANDLE out_;
};

// Raw key events for the lifetime of the object; the caller's mode afterwards.
class RawInput {
public:
    explicit RawInput(HANDLE in) : in_(in) {
        if (!GetConsoleMode(in_, &saved_)) return;
        const DWORD cooked = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                             ENABLE_VIRTUAL_TERMINAL_INPUT;
        ok_ = SetConsoleMode(in_, saved_ & ~cooked) != 0;
    }
    ~RawInput() {
        if (ok_) SetConsoleMode(in_, saved_);
    }
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;

private:
    HANDLE in_;
    DWORD saved_ = 0;
    bool ok_ = false;
};

static_assert(vk::Back == VK_BACK && vk::Tab == VK_TAB && vk::Return == VK_RETURN &&
              vk::Menu == VK_MENU && vk::Escape == VK_ESCAPE && vk::End == VK_END &&
              vk::Home == VK_HOME && vk::Left == VK_LEFT && vk::Up == VK_UP &&
              vk::Right == VK_RIGHT && vk::Down == VK_DOWN && vk::Delete == VK_DELETE);

ConsoleKeyEvent key_event_of(const KEY_EVENT_RECORD& record) {
    const DWORD state = record.dwControlKeyState;
    ConsoleKeyEvent event;
    event.down = record.bKeyDown != 0;
    event.virtual_key = record.wVirtualKeyCode;
    event.unit = static_cast<char16_t>(record.uChar.UnicodeChar);
    event.ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    event.alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    return event;
}

class WindowsLineEditor : public LineEditor {
public:
    explicit WindowsLineEditor(const EditorConfig& config)
        : config_(config),
          in_(GetStdHandle(STD_INPUT_HANDLE)),
          screen_(console_output()),
          output_(screen_),
          core_(config, output_) {}

    void attach(EditorHooks* hooks) override { core_.attach(hooks); }

    Result<void, std::string> load_history(const std::string& path) override {
        auto entries = load_history_record(record_, path, config_.history_limit);
        if (!entries) return fail(entries.error());
        core_.set_history(std::move(*entries));
        return {};
    }

    // May run on the console control handler's thread while the main thread reads a line:
    // the record, not the editor's own history, holds what is to be saved.
    Result<void, std::string> save_history(const std::string& path) override {
        return save_history_record(record_, path, config_.history_limit);
    }

    // The editor when both input and a screen are consoles; else a plain read, after the
    // plain prompt when someone is typing at a console.
    ReadResult read_line(const std::string& prompt) override {
        DWORD mode = 0;
        const bool typed = console_mode(in_, mode);
        ScreenInfo info;
        if (!typed || !screen_.info(info)) {
            if (typed) platform::write_stderr(prompt);
            return read_plain_line();
        }
        ReadResult result = edit_line(prompt);
        // The record takes the line exactly when the editor added it to its history.
        if (core_.history_changed()) {
            record_history_line(record_, result.text);
            core_.mark_history_saved();
        }
        return result;
    }

private:
    ReadResult edit_line(const std::string& prompt) {
        RawInput raw(in_);
        core_.start(prompt, output_.cursor_col());
        KeyDecoder decoder;
        while (true) {
            // Draw only before waiting: keys that came together (a paste) are drawn once.
            DWORD waiting = 0;
            if (!GetNumberOfConsoleInputEvents(in_, &waiting) || waiting == 0) core_.refresh();
            INPUT_RECORD record;
            DWORD count = 0;
            if (!ReadConsoleInputW(in_, &record, 1, &count)) {
                return {ReadOutcome::Error, platform::describe(last_error())};
            }
            // Window-size and focus events need nothing: every redraw asks for the size.
            if (count == 0 || record.EventType != KEY_EVENT) continue;
            const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
            const std::optional<Key> key = decoder.decode(key_event_of(event));
            if (!key) continue;
            for (WORD i = 0; i < std::max<WORD>(event.wRepeatCount, 1); ++i) {
                if (auto result = core_.press(*key)) return std::move(*result);
            }
        }
    }

    // The console screen the editor draws on: standard output when it is a console, else
    // standard error; when neither is, a screen that cannot be examined, and lines are read
    // plainly.
    static HANDLE console_output() {
        for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            HANDLE h = GetStdHandle(which);
            DWORD mode = 0;
            if (console_mode(h, mode)) return h;
        }
        return nullptr;
    }

    EditorConfig config_;
    HANDLE in_;
    WindowsScreen screen_;
    ScreenOutput output_;
    ConsoleEditor core_;
    HistoryRecord record_;
};

}  // namespace

std::unique_ptr<LineEditor> make_line_editor(const EditorConfig& config) {
    return std::make_unique<WindowsLineEditor>(config);
}

}  // namespace kiln
