// Bytes as console key events, through the key decoder into the console editor, which draws on
// a console of a size taken from the input, with escape sequences or with the classic calls;
// its history and completion candidates come from the input too.
// After every key: the cursor lies within the line, on a code point's start; the line is valid
// UTF-8 without a line end, and walking it back stops where walking forward does; recall stays
// within the entries. After every drawing while editing,
// the screen's last rows are what prompt and line give when simply written on a console, and
// the cursor is where its character starts. Ctrl-G always brings back editing, and Return
// then gives the line.
//
// Input: columns, rows, flags; a history file's text up to a NUL; candidates, each ended by a
// line feed, up to a NUL; then keys. A key is a UTF-8 character as the console reports the key
// that types it (a control character as Ctrl and its letter, but Backspace, Tab, Return and
// Escape), or 0xFF and a raw event: flags (release, Ctrl, Alt), virtual-key code, UTF-16 unit.
#include "editor/console_editor.hpp"

#include <algorithm>
#include <cstdint>

#include "check.hpp"
#include "common/text.hpp"
#include "editor/console_key_decoder.hpp"
#include "editor/console_screen.hpp"
#include "editor/display_width.hpp"
#include "editor/history.hpp"
#include "vt_screen.hpp"

namespace kiln {
namespace {

constexpr std::string_view kPrompt = "P> ";

// The event of the key that types `cp`, a character of the first plane. (The virtual-key code
// of a key that types a character does not matter, as long as it is none of the named keys.)
ConsoleKeyEvent typed(char32_t cp) {
    for (const auto& [c, code] :
         {std::pair{8, vk::Back}, {9, vk::Tab}, {13, vk::Return}, {27, vk::Escape}}) {
        if (cp == static_cast<char32_t>(c)) return {true, code, static_cast<char16_t>(cp)};
    }
    return {true, 0, static_cast<char16_t>(cp), cp < 0x20};
}

// The console events of the next key.
std::vector<ConsoleKeyEvent> next_events(std::string_view& in) {
    if (in.front() == '\xFF') {
        take_byte(in);
        const std::uint8_t flags = take_byte(in), code = take_byte(in), low = take_byte(in);
        return {{(flags & 1) == 0, code, static_cast<char16_t>(low | take_byte(in) << 8),
                 (flags & 2) != 0, (flags & 4) != 0}};
    }
    const Decoded d = decode_utf8(in, 0);
    in.remove_prefix(d.len);
    if (d.cp < 0x10000) return {typed(d.cp)};
    const char32_t v = d.cp - 0x10000;
    return {{true, 0, static_cast<char16_t>(0xD800 + (v >> 10))},
            {true, 0, static_cast<char16_t>(0xDC00 + (v & 0x3FF))}};
}

// A console that takes escape sequences, whose rows wrap when the next character comes; or,
// through ScreenOutput, one that takes none and is drawn on by the classic calls, whose rows
// wrap at once.
struct Console : ConsoleOutput, ConsoleScreen {
    Console(testing::VtScreen& screen, ConsoleSize size) : vt(screen), size_(size) {}
    void write(std::string_view bytes) override { vt.feed(bytes); }
    ConsoleSize size() override { return size_; }
    bool enable_vt() override { return false; }
    void write_text(std::string_view text) override {
        require(text.find('\x1b') == std::string_view::npos,
                "an escape reached the classic console");
        vt.feed(text);
    }
    bool info(ScreenInfo& out) override {
        out = {size_.columns, std::size_t{1} << 20, 0, size_.rows, {vt.col(), vt.row()}};
        return true;
    }
    void set_cursor(ScreenPos pos) override { vt.move_to(pos.row, pos.col); }
    void blank(ScreenPos from, std::size_t count) override { vt.blank(from.row, from.col, count); }

    testing::VtScreen& vt;
    ConsoleSize size_;
};

void check_line(const ConsoleEditor& editor, std::size_t entries) {
    const EditLine& line = editor.line();
    require(line.cursor == line.text.size() ||
                (line.cursor < line.text.size() && (line.text[line.cursor] & 0xC0) != 0x80),
            "the cursor lies past the line or inside a character");
    require(is_valid_utf8(line.text) && line.text.find_first_of("\r\n") == std::string::npos,
            "the line is not valid UTF-8 on one line");
    require(editor.recalled() <= entries, "recall left the entries");
    std::vector<std::size_t> forward{0}, back{line.text.size()};
    while (forward.back() < line.text.size())
        forward.push_back(next_char(line.text, forward.back()));
    while (back.back() > 0)
        back.push_back(prev_char(line.text, back.back()));
    require(std::equal(forward.begin(), forward.end(), back.rbegin(), back.rend()),
            "walking back stops where walking forward does not");
}

// The rows that prompt and line fill when written on a console that wraps at once, and the
// place where the cursor's character starts, against the last rows of the screen.
void check_screen(const testing::VtScreen& vt, std::size_t columns, const EditLine& line) {
    testing::VtScreen plain(columns, false);
    plain.feed(kPrompt);
    plain.feed(visible_text(std::string_view(line.text).substr(0, line.cursor)));
    std::size_t row = plain.row(), col = plain.col();
    const std::string after = visible_text(std::string_view(line.text).substr(line.cursor));
    if (!after.empty() &&
        col + static_cast<std::size_t>(char_columns(decode_utf8(after, 0).cp)) > columns) {
        ++row, col = 0;
    }
    plain.feed(after);
    const std::string want = plain.text(), shown = vt.text();
    const std::size_t above = shown.size() - std::min(want.size(), shown.size());
    require(shown.ends_with(want) && (above == 0 || shown[above - 1] == '\n'),
            "the screen does not show prompt and line");
    const auto first = std::count(shown.begin(), shown.begin() + static_cast<long>(above), '\n');
    require(vt.row() == static_cast<std::size_t>(first) + row && vt.col() == col,
            "the cursor is not at its character");
    require(!vt.saw_unknown(), "the editor sent an unknown sequence");
}

}  // namespace
}  // namespace kiln

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiln;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const ConsoleSize console{2 + take_byte(in) % 120u, 1 + take_byte(in) % 30u};
    const std::uint8_t flags = take_byte(in);  // burst, classic, threshold, limit
    const bool classic = (flags & 2) != 0;
    const std::vector<std::string> entries = decode_history(take_until(in, '\0'), kHistoryLimit);
    std::vector<std::string> names;
    for (std::string_view list = take_until(in, '\0'); !list.empty();)
        names.emplace_back(take_until(list, '\n'));
    EditorConfig config;
    config.listing_threshold = (flags >> 2 & 7) * 4u;
    if ((flags >> 5) != 0) config.history_limit = flags >> 5;
    config.completer = [&names](std::string_view line, std::size_t pos) {
        Completion c{line.substr(0, pos).rfind(' ') + 1, {}};  // after the last blank, or 0
        for (const std::string& name : names)
            c.candidates.push_back({name, name});
        return c;
    };
    testing::VtScreen vt(console.columns, !classic);
    Console direct(vt, console);
    ScreenOutput classic_calls(direct);
    EditorHooks hooks{"\x1b[1;36mP>\x1b[0m "};
    ConsoleEditor editor(config, classic ? static_cast<ConsoleOutput&>(classic_calls) : direct);
    editor.attach(&hooks);
    editor.set_history(entries);
    KeyDecoder decoder;

    for (std::size_t keys = 0; !in.empty();) {
        vt = testing::VtScreen(console.columns, !classic);  // each read on a clear screen
        editor.start(std::string(kPrompt));
        std::optional<ReadResult> result;
        for (; !result && !in.empty(); ++keys) {
            for (const ConsoleKeyEvent& event : next_events(in)) {
                const auto key = decoder.decode(event);
                if (!key || result) continue;
                result = editor.press(*key);
                if (!result) check_line(editor, editor.history().size());
            }
            if (result || ((flags & 1) != 0 && keys % 8 != 0)) continue;  // a burst is drawn once
            editor.refresh();
            if (editor.editing()) check_screen(vt, console.columns, editor.line());
        }
        if (!result) {
            require(!editor.press(ctrl_key('g')) && editor.editing(), "Ctrl-G does not edit");
            const std::string text = editor.line().text;
            result = editor.press(named_key(KeyName::Enter));
            require(result && result->outcome == ReadOutcome::Line && result->text == text,
                    "Return does not give the line");
        }
    }
    return 0;
}
