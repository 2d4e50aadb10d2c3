// The line editor on Windows: the console editor fed with the console's key events when
// standard input is a console, plain line reads otherwise.
//
// While a line is read the console's input is switched to raw key events, with processed
// input off so that Ctrl-C arrives as a key; the mode is put back before the line is
// returned, so a program started for the line gets Ctrl-C as usual.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/console_editor.hpp"
#include "editor/console_key_decoder.hpp"
#include "editor/line_editor.hpp"
#include "platform/platform.hpp"
#include "platform/windows_detail.hpp"

namespace kiln {
namespace {

using platform::detail::last_error;

bool console_mode(HANDLE h, DWORD& mode) {
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// The editor's output as UTF-16 on a console screen buffer with VT processing on.
class ConsoleWriter : public ConsoleOutput {
public:
    explicit ConsoleWriter(HANDLE out) : out_(out) {}

    void write(std::string_view bytes) override {
        const std::wstring text = platform::detail::wide(bytes);
        std::wstring_view rest = text;
        while (!rest.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
            DWORD written = 0;
            if (!WriteConsoleW(out_, rest.data(), chunk, &written, nullptr) || written == 0) return;
            rest.remove_prefix(written);
        }
    }

    // Lines wrap at the buffer's width; a page is what the window shows.
    ConsoleSize size() override {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out_, &info)) return {};
        const auto rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        return {static_cast<std::size_t>(std::max<SHORT>(info.dwSize.X, 1)),
                static_cast<std::size_t>(std::max(rows, 1))};
    }

    std::size_t cursor_col() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out_, &info)) return 0;
        return static_cast<std::size_t>(std::max<SHORT>(info.dwCursorPosition.X, 0));
    }

private:
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
          out_(console_output()),
          writer_(out_),
          core_(config, writer_) {}

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

    ReadResult read_line(const std::string& prompt) override {
        DWORD mode = 0;
        if (out_ == nullptr || !console_mode(in_, mode)) return read_plain_line();
        std::vector<std::string> newest;
        if (!core_.history().empty()) newest.push_back(core_.history().back());
        ReadResult result = read_console_line(prompt);
        // The editor adds a line by this rule; the record follows it.
        if (result.outcome == ReadOutcome::Line && history_accepts(result.text, newest))
            record_history_line(record_, result.text);
        return result;
    }

private:
    ReadResult read_console_line(const std::string& prompt) {
        RawInput raw(in_);
        core_.start(prompt, writer_.cursor_col());
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

    // The console screen the editor draws on, with VT processing on: standard output when it
    // is a console, else standard error; null when neither is (or VT cannot be enabled), and
    // then the lines are read plainly.
    static HANDLE console_output() {
        for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            HANDLE h = GetStdHandle(which);
            DWORD mode = 0;
            if (!console_mode(h, mode)) continue;
            const DWORD wanted =
                mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
            if (SetConsoleMode(h, wanted)) return h;
            return nullptr;
        }
        return nullptr;
    }

    EditorConfig config_;
    HANDLE in_;
    HANDLE out_;
    ConsoleWriter writer_;
    ConsoleEditor core_;
    HistoryRecord record_;
};

}  // namespace

std::unique_ptr<LineEditor> make_line_editor(const EditorConfig& config) {
    return std::make_unique<WindowsLineEditor>(config);
}

}  // namespace kiln
