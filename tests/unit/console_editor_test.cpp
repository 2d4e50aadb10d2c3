// The console line editor driven by keys, its output read back through a VT screen: editing
// keys, UTF-8, wrapping, history, incremental search, completion, the outcomes, and the
// decoding of console key events.
#include "editor/console_editor.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "editor/console_key_decoder.hpp"
#include "main/completion.hpp"
#include "vt_screen.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

bool same(const std::optional<Key>& a, const Key& b) {
    return a && a->name == b.name && a->ch == b.ch && a->ctrl == b.ctrl && a->alt == b.alt;
}

// One editor on a fake console of the given size, with the prompt "P> " shown in colour.
struct Session : ConsoleOutput {
    explicit Session(ConsoleSize size = {80, 25}, bool deferred_wrap = true,
                     EditorConfig config = {.completer = complete})
        : size_(size), vt(size.columns, deferred_wrap), editor(config, *this) {
        hooks.colored_prompt = "\x1b[1;36mP>\x1b[0m ";
        editor.attach(&hooks);
    }
    void write(std::string_view bytes) override {
        written += bytes;
        vt.feed(bytes);
    }
    ConsoleSize size() override { return size_; }
    void start() {
        result.reset();
        editor.start("P> ");
        editor.refresh();
    }
    void press(const Key& key) {
        ASSERT_FALSE(result.has_value()) << "key after the read ended";
        result = editor.press(key);
        if (!burst) editor.refresh();
    }
    // Characters as keys, each drawn after it: Tab, Return and the arrows ← → ↑ ↓, ⇤ Home,
    // ⇥ End, ⌦ Delete, ⌫ Backspace, ⎋ Escape; ⌥ gives the next character Alt; any other
    // control character is Ctrl and a letter; everything else is typed.
    void type(std::string_view text) {
        static const std::pair<char32_t, KeyName> named[] = {
            {U'\t', KeyName::Tab},      {U'\r', KeyName::Enter}, {U'←', KeyName::Left},
            {U'→', KeyName::Right},     {U'↑', KeyName::Up},     {U'↓', KeyName::Down},
            {U'⇤', KeyName::Home},      {U'⇥', KeyName::End},    {U'⌦', KeyName::Delete},
            {U'⌫', KeyName::Backspace}, {U'⎋', KeyName::Escape}};
        bool alt = false;
        for (std::size_t i = 0; i < text.size();) {
            const Decoded d = decode_utf8(text, i);
            i += d.len;
            const auto* n = std::find_if(std::begin(named), std::end(named),
                                         [&](auto& p) { return p.first == d.cp; });
            if (d.cp == U'⌥') {
                alt = true;
                continue;
            }
            press(n != std::end(named) ? named_key(n->second)
                  : alt                ? alt_key(static_cast<char>(d.cp))
                  : d.cp < 0x20        ? ctrl_key(static_cast<char>('a' + d.cp - 1))
                                       : text_key(d.cp));
            alt = false;
        }
    }
    // Starts a read, types the keys and Return: the line the editor returned.
    std::string line_of(std::string_view keys) {
        start();
        type(keys);
        type("\r");
        return result && result->outcome == ReadOutcome::Line ? result->text : "<no line>";
    }
    std::string screen() const { return vt.text(); }
    std::string last_row() const { return screen().substr(screen().rfind('\n') + 1); }
    // Types the keys: the screen, its last row, or the line returned after them.
    std::string screen(std::string_view keys) { return type(keys), screen(); }
    std::string last_row(std::string_view keys) { return type(keys), last_row(); }
    std::string text(std::string_view keys) {
        return type(keys), result ? result->text : "<no line>";
    }

    bool burst = false;  // keys arrive together, as from a paste: no drawing between them
    ConsoleSize size_;
    testing::VtScreen vt;
    std::string written;
    EditorHooks hooks;
    ConsoleEditor editor;
    std::optional<ReadResult> result;
};

TEST(ConsoleEditor, EditingKeys) {
    static const struct {
        std::string_view keys, line;
    } cases[] = {
        // kills in a row collect into one piece; Ctrl-Y yanks it back
        {"one two three\x17\x17\x19", "one two three"},
        {"one two three\x17\x17\x01\x19", "two threeone "},
        {"abc def\x01\x06\x0b\x01\x19", "bc defa"},
        {"abc def\x02\x02\x15\x05 \x19", "ef abc d"},
        // words, and Escape then a letter as the letter with Alt
        {"cp src/a.txt dst⌥b⌥bX⇤⌥f⌥d", "cp/a.Xtxt dst"},
        {"word1 word2⎋b⎋D", "word1 "},
        {"ab\x14", "ba"},  // at the end: the last two
        {"abc\x01\x06\x14", "bac"},
        {"a\x01\x14", "a"},
        // whole characters, a combining accent staying with its letter
        {"aé日\x08\x08z", "az"},
        {"xe\xCC\x81\x02\x08", "e\xCC\x81"},
        {"😀b\x02\x02\x04", "b"},
        {"né\x14", "én"},
    };
    Session s;
    for (const auto& c : cases)
        EXPECT_EQ(s.line_of(c.keys), c.line) << c.keys;
}

TEST(ConsoleEditor, Screen) {
    Session s;
    s.start();
    EXPECT_NE(s.written.find("\x1b[1;36mP>\x1b[0m "), std::string::npos);
    // From a file other programs wrote: an entry of two lines is left out, invalid UTF-8 and
    // C1 show as U+FFFD, control characters as such.
    s.editor.set_history({"caf\xE9", "two\nlines", "printf 'a\x1b[2Jb\tc\xC2\x85\xC2\xA0'"});
    s.start();
    EXPECT_EQ(s.last_row("↑"), "P> printf 'a^[[2Jb^Ic\xEF\xBF\xBD\xC2\xA0'");
    EXPECT_EQ(s.text("↑\r"), "caf\xEF\xBF\xBD");

    Session after({20, 25});
    after.write("out");
    after.editor.start("P> ", 3);
    EXPECT_EQ(after.screen("abc⌫"), "outP> ab");
    EXPECT_EQ(after.screen("\x0c"), "P> ab");  // clear screen: the prompt at the top
}

// A paste arrives as one key event a character: the line is drawn once, not once a key.
TEST(ConsoleEditor, ABurstOfKeysIsDrawnOnce) {
    Session s({40, 25});
    s.start();
    s.burst = true;
    const std::string pasted(2000, 'x');
    EXPECT_EQ(s.screen("echo " + pasted), "P>");
    s.editor.refresh();
    EXPECT_LT(s.written.size(), 3 * pasted.size());
    // Return draws what is pending before leaving the line
    EXPECT_EQ(s.text("\x01X\r"), "Xecho " + pasted);
    EXPECT_EQ(s.screen().substr(0, 13), "P> Xecho xxxx");
}

TEST(ConsoleEditor, HistoryKeepsEditsUntilTheReadEnds) {
    EditorConfig config;
    config.history_limit = 3;
    Session s({80, 25}, true, config);
    s.editor.set_history({"zero", "first", "second"});
    s.start();
    // edits "second" in the recall list; no entry before "first"
    EXPECT_EQ(s.last_row("new↑!\x10\x10\x10"), "P> zero");
    EXPECT_EQ(s.last_row("↓↓"), "P> second!");
    EXPECT_EQ(s.last_row("\x0e↓"), "P> new");
    s.type("↑\r");
    EXPECT_EQ(s.editor.history(), (Lines{"first", "second", "second!"}));  // at the limit
    EXPECT_EQ(s.line_of("↑↑"), "second");  // the next read has the history without the edits
    EXPECT_TRUE(s.editor.history_changed());
    s.editor.mark_history_saved();
    EXPECT_EQ(s.line_of(""), "");
    EXPECT_EQ(s.line_of("↑"), "second");  // equal to the newest entry: not added
    EXPECT_FALSE(s.editor.history_changed());
}

TEST(ConsoleEditor, IncrementalSearch) {
    Session s;
    s.editor.set_history({"make test", "git status", "make bench", "ls y", "ls x", "pwd", "ls x"});
    s.start();
    EXPECT_EQ(s.screen("\x12mak"), "(reverse-i-search)`mak': make bench");
    EXPECT_EQ(s.screen("\x12"), "(reverse-i-search)`mak': make test");
    EXPECT_EQ(s.screen("\x12"), "(failed reverse-i-search)`mak': make test");  // nothing older
    EXPECT_EQ(s.text("\r"), "make test");
    EXPECT_EQ(s.line_of("\x12ls\x12"), "ls y");  // entries equal to the one shown are skipped
    // An editing key leaves the search with the line found; Down goes to the entry after it.
    EXPECT_EQ(s.line_of("typed\x12stat\x05!↓"), "make bench");
    // Backspace shortens the query; Ctrl-G gives the typed line back.
    s.start();
    EXPECT_EQ(s.last_row("typed\x12pw⌫⌫"), "(reverse-i-search)`': typed");
    EXPECT_EQ(s.last_row("p"), "(reverse-i-search)`p': pwd");
    EXPECT_EQ(s.text("\x12x\x07\r"), "typed");

    // With no query, the second Ctrl-R takes the last one; Ctrl-S searches forward.
    Session c;
    c.editor.set_history({"cat a", "cat b", "cat c"});
    EXPECT_EQ(c.line_of("\x12"
                        "cat\x12"),
              "cat b");  // now cat a, cat b, cat c, cat b
    c.start();
    EXPECT_EQ(c.last_row("\x12\x12"), "(reverse-i-search)`cat': cat b");
    EXPECT_EQ(c.last_row("\x12\x12\x12"), "(reverse-i-search)`cat': cat a");
    EXPECT_EQ(c.last_row("\x13"), "(i-search)`cat': cat b");
    EXPECT_EQ(c.text("\x13\r"), "cat c");
}

// Every row of the editing keys, pressed on "ab c/defg hi" with the cursor before "f" and "zz"
// in the kill buffer, then "x" and Return typed: the line read, or "^C" for an interrupt.
TEST(ConsoleEditor, EveryEditingKey) {
    using enum KeyName;
    static const std::pair<Key, std::string_view> cases[] = {
        {named_key(Enter), "ab c/defg hi"},
        {ctrl_key('m'), "ab c/defg hi"},
        {ctrl_key('j'), "ab c/defg hi"},
        {ctrl_key('c'), "^C"},
        {ctrl_key('d'), "ab c/dexg hi"},
        {ctrl_key('z'), "ab c/dexfg hi"},
        {ctrl_key('r'), "ax by"},         // searches back for "x"
        {ctrl_key('s'), "ab c/defg hi"},  // forward from the new line: nothing found
        {ctrl_key('a'), "xab c/defg hi"},
        {named_key(Home), "xab c/defg hi"},
        {ctrl_key('e'), "ab c/defg hix"},
        {named_key(End), "ab c/defg hix"},
        {ctrl_key('b'), "ab c/dxefg hi"},
        {named_key(Left), "ab c/dxefg hi"},
        {ctrl_key('f'), "ab c/defxg hi"},
        {named_key(Right), "ab c/defxg hi"},
        {alt_key('b'), "ab c/xdefg hi"},
        {named_key(Left, true), "ab c/xdefg hi"},
        {alt_key('f'), "ab c/defgx hi"},
        {named_key(Right, true), "ab c/defgx hi"},
        {ctrl_key('h'), "ab c/dxfg hi"},
        {named_key(Backspace), "ab c/dxfg hi"},
        {named_key(Delete), "ab c/dexg hi"},
        {ctrl_key('k'), "ab c/dex"},
        {ctrl_key('u'), "xfg hi"},
        {ctrl_key('w'), "ab xfg hi"},
        {named_key(Backspace, true), "ab c/xfg hi"},
        {alt_key('d'), "ab c/dex hi"},
        {ctrl_key('y'), "ab c/dezzxfg hi"},
        {ctrl_key('t'), "ab c/dfexg hi"},
        {ctrl_key('l'), "ab c/dexfg hi"},
        {ctrl_key('p'), "ax byx"},
        {named_key(Up), "ax byx"},
        {ctrl_key('n'), "ab c/dexfg hi"},  // already the newest
        {named_key(Down), "ab c/dexfg hi"},
        {alt_key('<'), "fixx"},
        {alt_key('>'), "ab c/dexfg hi"},
        {named_key(Tab), "ab c/delixfg hi"},
        {named_key(Escape), "ab c/defg hi"},  // Alt-x does nothing
    };
    EditorConfig config;
    config.completer = [](std::string_view, std::size_t) {
        // Names that cannot be typed, or that are not one line, are left out.
        return Completion{3, {{"", "c/d\xFF"}, {"", "c/deli"}, {"", "c/d\nx"}}};
    };
    Session s({80, 25}, true, config);
    const auto rows = ConsoleEditor::edit_keys();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (const auto& row : rows) {
        const KeyMods m = row.key.mods;
        const Key key{row.key.name, row.key.ch, m == KeyMods::Ctrl || m == KeyMods::Word,
                      m == KeyMods::Alt};
        SCOPED_TRACE(::testing::Message() << "key " << static_cast<int>(key.name) << " "
                                          << static_cast<char>(key.ch) << " " << key.ctrl);
        const auto* c = std::find_if(std::begin(cases), std::end(cases),
                                     [&](auto& e) { return same(e.first, key); });
        ASSERT_NE(c, std::end(cases));
        s.editor.set_history({"fix", "ax by"});
        s.start();
        s.type(
            "zz\x17"
            "ab c/defg hi←←←←←");
        s.press(key);
        if (!s.result) s.type("x\r");
        EXPECT_EQ(s.result->outcome == ReadOutcome::Interrupted ? "^C" : s.result->text, c->second);
    }
}

TEST(ConsoleEditor, Outcomes) {
    Session s;
    s.editor.set_history({"old"});
    s.start();
    s.type("partial\x03");
    EXPECT_EQ(s.result->outcome, ReadOutcome::Interrupted);
    EXPECT_EQ(s.screen(), "P> partial^C");
    s.start();
    s.type("\x12ol\x03");  // in a search too
    EXPECT_EQ(s.result->outcome, ReadOutcome::Interrupted);
    EXPECT_EQ(s.editor.history(), Lines{"old"});
    for (const std::string_view keys : {"\x04", "\x1a", "a\x08\x04"}) {  // on an empty line only
        s.start();
        s.type(keys);
        EXPECT_EQ(s.result->outcome, ReadOutcome::EndOfInput) << keys;
    }
}

// Completion of file names in a scratch directory.
class ConsoleEditorCompletion : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
    void TearDown() override { fs::remove_all(dir_); }
    void touch(const std::string& name) { std::ofstream(dir_ + "/" + name).put('x'); }
    std::string cat(const std::string& rest) const { return "cat " + dir_ + "/" + rest; }

    std::string dir_ = (fs::temp_directory_path() / "kiln-ced-XXXXXX").string();
};

TEST_F(ConsoleEditorCompletion, PrefixThenListing) {
    for (const char* name : {"fileA.txt", "fileB.txt", "other", "q1", "q2", "q3"})
        touch(name);
    const EditorConfig config{.listing_threshold = 3, .completer = complete};
    Session s({80, 25}, true, config);
    s.start();
    s.type(cat("o\t") + " " + dir_ + "/f\t");
    const std::string typed = cat("other ") + dir_ + "/file";
    EXPECT_EQ(s.screen(), "P> " + typed);
    // the display names, then the prompt and the line again
    EXPECT_EQ(s.screen("\t"), "P> " + typed + "\nfileA.txt  fileB.txt\nP> " + typed);
    EXPECT_EQ(s.text("B\t\r"), typed + "B.txt");
    s.start();
    EXPECT_EQ(s.last_row(cat("q\t←→\t")), "P> " + cat("q"));  // Tab after another key does not list
    // at the threshold: no question
    s.type("\t");
    EXPECT_EQ(s.screen().substr(s.screen().rfind("q1")), "q1  q2  q3\nP> " + cat("q"));
}

TEST_F(ConsoleEditorCompletion, ManyCandidatesAskAndLongListingsArePaged) {
    for (int i = 0; i < 101; ++i)
        touch("n" + std::to_string(1000 + i));
    Session s({80, 100});
    s.start();
    EXPECT_NE(s.screen(cat("n\t\t")).find("Display all 101 possibilities? (y or n)"),
              std::string::npos);
    EXPECT_EQ(s.screen("xn").find("n1000"), std::string::npos);  // neither yes nor no: still asking
    EXPECT_EQ(s.last_row(), "P> " + cat("n1"));
    EXPECT_NE(s.screen("\ty").find("n1100"), std::string::npos);

    const EditorConfig config{.listing_threshold = 1000, .completer = complete};
    Session p({10, 5}, true, config);  // one name a row, four rows a page
    p.start();
    EXPECT_NE(p.screen(cat("n\t\t")).find("n1003\n--More--"), std::string::npos);
    EXPECT_NE(p.screen("\r").find("n1003\nn1004\n--More--"), std::string::npos);  // one more row
    EXPECT_NE(p.screen(" ").find("n1008\n--More--"), std::string::npos);          // a page more
    EXPECT_EQ(p.screen("q").find("n1009"), std::string::npos);
    EXPECT_EQ(p.screen().find("--More--"), std::string::npos);
    EXPECT_GT(p.screen().rfind("P> "), p.screen().find("n1008"));
}

// Every UTF-16 unit 0-127 and every virtual-key code, with each pair of modifiers. A unit alone
// gives nothing (.), Ctrl and a letter (c), Escape (e), the character (t) or the character with
// Alt (a), a letter in lower case; a code alone gives its named key with the modifiers, or with
// Ctrl alone a letter key gives that letter's control key, or nothing.
TEST(ConsoleKeyDecoder, EveryUnitAndEveryVirtualKey) {
    using enum KeyName;
    const std::map<std::uint16_t, KeyName> named{
        {vk::Back, Backspace}, {vk::Tab, Tab},   {vk::Return, Enter}, {vk::Escape, Escape},
        {vk::End, End},        {vk::Home, Home}, {vk::Left, Left},    {vk::Up, Up},
        {vk::Right, Right},    {vk::Down, Down}, {vk::Delete, Delete}};
    for (const int mods : {0, 1, 2, 3}) {
        const bool ctrl = (mods & 1) != 0, alt = (mods & 2) != 0;
        std::string got, want = "." + std::string(26, 'c') + "e...." + std::string(96, 't');
        if (alt && !ctrl) std::replace(want.begin() + 32, want.end(), 't', 'a');
        for (char16_t u = 0; u < 128; ++u) {
            const auto key = KeyDecoder().decode({true, 0, u, ctrl, alt});
            got += !key ? '.' : key->is(Escape) ? 'e' : key->ctrl ? 'c' : key->alt ? 'a' : 't';
            const char32_t lower = u >= 'A' && u <= 'Z' ? u + 32 : u;
            if (key && !key->is(Escape)) {
                EXPECT_EQ(key->ch, key->ctrl ? U'a' + u - 1 : key->alt ? lower : u) << int(u);
            }
        }
        EXPECT_EQ(got, want) << mods;
        for (std::uint16_t code = 0; code < 256; ++code) {
            const auto key = KeyDecoder().decode({true, code, 0, ctrl, alt});
            const bool letter = ctrl && !alt && code >= 'A' && code <= 'Z';
            EXPECT_TRUE(named.contains(code) ? same(key, named_key(named.at(code), ctrl, alt))
                        : letter             ? same(key, ctrl_key(static_cast<char>(code + 32)))
                                             : !key)
                << code << " " << mods;
        }
    }
}

TEST(ConsoleKeyDecoder, SurrogatesAndReleases) {
    KeyDecoder d;
    const auto key = [&d](std::uint16_t code, char16_t unit) {
        return d.decode(ConsoleKeyEvent{true, code, unit});
    };
    EXPECT_FALSE(key(0, 0xD800));  // the halves' first and last units
    EXPECT_TRUE(same(key(0, 0xDC00), text_key(0x10000)));
    // A second half without a first, or a first half followed by something else, is dropped.
    EXPECT_FALSE(key(0, 0xDFFF));
    EXPECT_FALSE(key(0, 0xDBFF));
    EXPECT_TRUE(same(key('A', 'a'), text_key('a')));
    EXPECT_FALSE(key(0, 0xDE00));
    EXPECT_FALSE(key(0, 0xD83D));
    EXPECT_TRUE(same(key(vk::Return, '\r'), named_key(KeyName::Enter)));  // also ends a pair
    EXPECT_FALSE(key(0, 0xDE00));
    EXPECT_FALSE(d.decode(ConsoleKeyEvent{false, 'A', 'a', false, false}));  // a release
    // Alt and number-pad digits: the character arrives with Alt's release.
    EXPECT_TRUE(
        same(d.decode(ConsoleKeyEvent{false, vk::Menu, 0xE9, false, false}), text_key(0xE9)));
}

}  // namespace
}  // namespace kiln
