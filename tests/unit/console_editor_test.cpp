// The console line editor driven by key lists, its output read back through a VT screen:
// editing keys, UTF-8, wrapping, history, incremental search, completion and the outcomes.
#include "editor/console_editor.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "editor/completion_listing.hpp"
#include "editor/console_key_decoder.hpp"
#include "vt_screen.hpp"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using testing::VtScreen;

class FakeConsole : public ConsoleOutput {
public:
    FakeConsole(ConsoleSize size, bool deferred_wrap)
        : size_(size), screen(size.columns, deferred_wrap) {}
    void write(std::string_view bytes) override {
        written += bytes;
        screen.feed(bytes);
    }
    ConsoleSize size() override { return size_; }

    ConsoleSize size_;
    VtScreen screen;
    std::string written;
};

// One editor on a fake console, with the prompt "P> " shown in colour.
struct Session {
    explicit Session(ConsoleSize size = {80, 25}, bool deferred_wrap = true,
                     EditorConfig config = {})
        : console(size, deferred_wrap), editor(config, console) {
        hooks.colored_prompt = "\x1b[1;36mP>\x1b[0m ";
        editor.attach(&hooks);
    }

    void start() {
        result.reset();
        editor.start("P> ");
        editor.refresh();
    }
    // Each key as if typed alone: the line is drawn after it.
    void press(const Key& key) {
        ASSERT_FALSE(result.has_value()) << "key after the read ended";
        result = editor.press(key);
        if (!burst) editor.refresh();
    }
    // Characters as keys: '\t' is Tab, '\r' is Enter, a control character is Ctrl and a
    // letter; everything else is typed.
    void type(std::string_view text) {
        for (std::size_t i = 0; i < text.size();) {
            const Decoded d = decode_utf8(text, i);
            i += d.len;
            if (d.cp == '\t') {
                press(named_key(KeyName::Tab));
            } else if (d.cp == '\r') {
                press(named_key(KeyName::Enter));
            } else if (d.cp < 0x20) {
                press(ctrl_key(static_cast<char>('a' + d.cp - 1)));
            } else {
                press(text_key(d.cp));
            }
        }
    }
    // Types a whole line with Return and gives back what the editor returned.
    std::string enter(std::string_view text) {
        start();
        type(text);
        type("\r");
        EXPECT_TRUE(result && result->outcome == ReadOutcome::Line);
        return result ? result->text : "";
    }
    std::string line_of(std::string_view keys) {
        start();
        type(keys);
        type("\r");
        return result ? result->text : "<none>";
    }

    std::string screen() const { return console.screen.text(); }

    bool burst = false;  // keys arrive together, as from a paste: no drawing between them
    FakeConsole console;
    EditorHooks hooks;
    ConsoleEditor editor;
    std::optional<ReadResult> result;
};

const Key kLeft = named_key(KeyName::Left);
const Key kRight = named_key(KeyName::Right);
const Key kUp = named_key(KeyName::Up);
const Key kDown = named_key(KeyName::Down);
const Key kBackspace = named_key(KeyName::Backspace);
const Key kDelete = named_key(KeyName::Delete);

// ---- editing -------------------------------------------------------------------------------

TEST(ConsoleEditorKeys, MoveAndEditByCharacter) {
    Session s;
    EXPECT_EQ(s.line_of("abcd\x01X\x05Y\x02\x02Z"), "XabcZdY");
    EXPECT_EQ(s.line_of("abc\x02\x08\x04!"), "a!");  // Ctrl-H erases back, Ctrl-D forward
    s.start();
    s.type("hello");
    s.press(named_key(KeyName::Home));
    s.press(kDelete);
    s.press(kRight);
    s.press(kBackspace);
    s.press(named_key(KeyName::End));
    s.press(kLeft);
    s.type("_");
    s.type("\r");
    EXPECT_EQ(s.result->text, "ll_o");
}

TEST(ConsoleEditorKeys, KillsCollectAndYankBringsThemBack) {
    Session s;
    EXPECT_EQ(s.line_of("one two three\x17\x17\x19"), "one two three");
    // Two Ctrl-W in a row kill "two three" as one piece; Ctrl-A Ctrl-Y puts it in front.
    EXPECT_EQ(s.line_of("one two three\x17\x17\x01\x19"), "two threeone ");
    EXPECT_EQ(s.line_of("abc def\x01\x06\x0b\x01\x19"), "bc defa");
    EXPECT_EQ(s.line_of("abc def\x02\x02\x15\x05 \x19"), "ef abc d");
}

TEST(ConsoleEditorKeys, WordMovesAndTranspose) {
    Session s;
    s.start();
    s.type("cp src/a.txt dst");
    s.press(alt_key('b'));
    s.press(alt_key('b'));
    s.type("X");  // before "txt"
    s.press(named_key(KeyName::Home));
    s.press(alt_key('f'));
    s.press(alt_key('d'));  // kills " src"
    s.type("\r");
    EXPECT_EQ(s.result->text, "cp/a.Xtxt dst");

    EXPECT_EQ(s.line_of("ab\x14"), "ba");            // at the end: the last two
    EXPECT_EQ(s.line_of("abc\x01\x06\x14"), "bac");  // in the middle: around the cursor
    EXPECT_EQ(s.line_of("a\x01\x14"), "a");

    // Escape, then a letter, is the letter with Alt.
    s.start();
    s.type("word1 word2");
    s.press(named_key(KeyName::Escape));
    s.type("b");
    s.press(named_key(KeyName::Escape));
    s.type("D\r");
    EXPECT_EQ(s.result->text, "word1 ");
}

TEST(ConsoleEditorKeys, Utf8IsEditedByWholeCharacters) {
    Session s;
    EXPECT_EQ(s.line_of("aé日\x08\x08z"), "az");
    // A combining accent stays with its letter.
    EXPECT_EQ(s.line_of("xe\xCC\x81\x02\x08"), "e\xCC\x81");
    EXPECT_EQ(s.line_of("😀b\x02\x02\x04"), "b");
    EXPECT_EQ(s.line_of("né\x14"), "én");
    // The cursor column counts a wide character as two.
    s.start();
    s.type("日本x");
    s.press(kLeft);
    s.press(kLeft);
    EXPECT_EQ(s.console.screen.col(), 3u + 2u);
    EXPECT_EQ(s.screen().substr(s.screen().rfind('\n') + 1), "P> 日本x");
}

// Walking back must stop at the same places as walking forward, invalid bytes included.
TEST(ConsoleEditorKeys, CharacterBoundariesAgreeBothWays) {
    const std::vector<std::string> texts{"plain",
                                         "caf\xC3\xA9",
                                         "\xF0\x9F\x98\x80x",
                                         "\x80\x80\x80\x80"
                                         "a",
                                         "\xC3\xA9\xA9",
                                         "\xE2\x82",
                                         "\x80\xF0\x9F\x98\x80",
                                         "\xF0\x9F\x98"
                                         "x",
                                         "e\xCC\x81\xCC\x81z",
                                         "\xCC\x81"
                                         "a",
                                         "\xFF\xC3(\xED\xA0\x80"};
    for (const auto& t : texts) {
        std::vector<std::size_t> forward{0};
        while (forward.back() < t.size())
            forward.push_back(next_char(t, forward.back()));
        std::vector<std::size_t> backward{t.size()};
        while (backward.back() > 0)
            backward.push_back(prev_char(t, backward.back()));
        std::reverse(backward.begin(), backward.end());
        EXPECT_EQ(forward, backward) << ::testing::PrintToString(t);
    }
}

// ---- the screen ----------------------------------------------------------------------------

TEST(ConsoleEditorScreen, ShowsTheColouredPromptAndMeasuresThePlainOne) {
    Session s;
    s.start();
    EXPECT_NE(s.console.written.find("\x1b[1;36mP>\x1b[0m "), std::string::npos);
    s.type("echo hi");
    s.press(named_key(KeyName::Home));
    EXPECT_EQ(s.console.screen.col(), 3u);
    EXPECT_EQ(s.screen(), "P> echo hi");
    EXPECT_FALSE(s.console.screen.saw_unknown());
}

// Long lines wrap; editing in the middle redraws every row, on either kind of console.
TEST(ConsoleEditorScreen, LongLinesWrapAndTheCursorFollows) {
    for (bool deferred : {true, false}) {
        SCOPED_TRACE(deferred ? "deferred wrap" : "immediate wrap");
        Session s({10, 25}, deferred);
        s.start();
        s.type("abcdefghijklmnopq");  // 3 + 17 = 20 columns: exactly two full rows
        EXPECT_EQ(s.screen(), "P> abcdefg\nhijklmnopq");
        EXPECT_EQ(s.console.screen.row(), 2u);
        EXPECT_EQ(s.console.screen.col(), 0u);
        s.press(ctrl_key('a'));
        EXPECT_EQ(s.console.screen.row(), 0u);
        EXPECT_EQ(s.console.screen.col(), 3u);
        s.type("12");
        EXPECT_EQ(s.screen(), "P> 12abcde\nfghijklmno\npq");
        EXPECT_EQ(s.console.screen.col(), 5u);
        s.press(ctrl_key('k'));
        EXPECT_EQ(s.screen(), "P> 12");
        s.type("\x19\r");
        EXPECT_EQ(s.result->text, "12abcdefghijklmnopq");
        // The output after the line starts on the row below it.
        EXPECT_EQ(s.console.screen.row(), 3u);
        EXPECT_EQ(s.console.screen.col(), 0u);
        EXPECT_FALSE(s.console.screen.saw_unknown());
    }
}

// A paste arrives as one key event a character: the line is drawn once at the end, not once
// a key, which would write the square of its length.
TEST(ConsoleEditorScreen, ABurstOfKeysIsDrawnOnce) {
    Session s({40, 25});
    s.start();
    s.burst = true;
    const std::string pasted(2000, 'x');
    s.type("echo " + pasted);
    EXPECT_EQ(s.console.screen.text(), "P>");
    s.editor.refresh();
    EXPECT_LT(s.console.written.size(), 3 * pasted.size());
    EXPECT_EQ(s.screen().substr(0, 12), "P> echo xxxx");
    s.type("\x01X\r");  // Return draws what is pending before leaving the line
    EXPECT_EQ(s.result->text, "Xecho " + pasted);
    EXPECT_EQ(s.screen().substr(0, 13), "P> Xecho xxxx");
}

TEST(ConsoleEditorScreen, WideCharacterThatDoesNotFitStartsTheNextRow) {
    Session s({6, 25});
    s.start();
    s.type("ab日x");  // "P> ab" fills 5 columns; 日 needs two
    EXPECT_EQ(s.screen(), "P> ab\n日x");
    s.press(kLeft);
    s.press(kLeft);
    EXPECT_EQ(s.console.screen.row(), 1u);
    EXPECT_EQ(s.console.screen.col(), 0u);
}

TEST(ConsoleEditorScreen, ControlCharactersAreShownNotSent) {
    Session s;
    s.editor.set_history({"printf 'a\x1b[2Jb\tc'"});
    s.start();
    s.press(kUp);
    EXPECT_EQ(s.screen(), "P> printf 'a^[[2Jb^Ic'");
    EXPECT_FALSE(s.console.screen.saw_unknown());
}

TEST(ConsoleEditorScreen, PromptAfterTextOnTheSameRowKeepsThatText) {
    Session s({20, 25});
    s.console.write("out");
    s.editor.start("P> ", 3);
    s.type("abc");
    s.press(kBackspace);
    EXPECT_EQ(s.screen(), "outP> ab");
    s.press(ctrl_key('l'));  // clear screen: prompt at the top
    EXPECT_EQ(s.screen(), "P> ab");
}

// ---- history -------------------------------------------------------------------------------

TEST(ConsoleEditorHistory, UpAndDownRecallEntriesAndKeepEditsUntilTheReadEnds) {
    Session s;
    s.editor.set_history({"first", "second"});
    s.start();
    s.type("new");
    s.press(kUp);
    EXPECT_EQ(s.screen(), "P> second");
    s.type("!");  // edits "second" in the recall list only
    s.press(ctrl_key('p'));
    s.press(ctrl_key('p'));  // no older entry: stays at "first"
    EXPECT_EQ(s.screen(), "P> first");
    s.press(kDown);
    EXPECT_EQ(s.screen(), "P> second!");
    s.press(ctrl_key('n'));
    s.press(kDown);
    EXPECT_EQ(s.screen(), "P> new");
    s.press(kUp);
    s.type("\r");
    EXPECT_EQ(s.result->text, "second!");
    EXPECT_EQ(s.editor.history(), (std::vector<std::string>{"first", "second", "second!"}));
    // The next read starts from the history as it is, without the discarded edits.
    s.start();
    s.press(kUp);
    s.press(kUp);
    EXPECT_EQ(s.screen().substr(s.screen().rfind("P> ")), "P> second");
}

TEST(ConsoleEditorHistory, EveryReturnedLineIsAddedUnlessEqualToTheNewest) {
    EditorConfig config;
    config.history_limit = 3;
    Session s({80, 25}, true, config);
    s.editor.set_history({"a", "b", "c", "d"});  // more than the limit: the oldest goes
    EXPECT_EQ(s.editor.history(), (std::vector<std::string>{"b", "c", "d"}));
    EXPECT_FALSE(s.editor.history_changed());

    s.enter("d");  // equal to the newest
    s.enter("");   // empty
    EXPECT_FALSE(s.editor.history_changed());
    s.enter(" c");  // a leading blank is no reason to leave it out
    s.enter("b");   // equal to an older entry only
    EXPECT_EQ(s.editor.history(), (std::vector<std::string>{"d", " c", "b"}));
    EXPECT_TRUE(s.editor.history_changed());
    s.editor.mark_history_saved();
    EXPECT_FALSE(s.editor.history_changed());

    // A recalled line that is returned again counts as a line the editor returned.
    s.start();
    s.press(kUp);
    s.press(kUp);
    s.type("\r");
    EXPECT_EQ(s.editor.history(), (std::vector<std::string>{" c", "b", " c"}));
}

// ---- incremental search --------------------------------------------------------------------

TEST(ConsoleEditorSearch, CtrlRFindsNewerEntriesFirstAndGoesOlder) {
    Session s;
    s.editor.set_history({"make test", "git status", "make bench", "ls"});
    s.start();
    s.type(
        "\x12"
        "mak");
    EXPECT_EQ(s.screen(), "(reverse-i-search)`mak': make bench");
    s.type("\x12");
    EXPECT_EQ(s.screen(), "(reverse-i-search)`mak': make test");
    s.type("\x12");  // nothing older
    EXPECT_EQ(s.screen(), "(failed reverse-i-search)`mak': make test");
    s.type("\r");
    EXPECT_EQ(s.result->text, "make test");
    EXPECT_EQ(s.editor.history().back(), "make test");
}

TEST(ConsoleEditorSearch, EditingKeysLeaveTheSearchWithTheLineFound) {
    Session s;
    s.editor.set_history({"echo one", "echo two", "pwd"});
    s.start();
    s.type("typed\x12one");
    s.press(ctrl_key('e'));  // leaves the search, then moves to the end
    EXPECT_EQ(s.screen(), "P> echo one");
    s.type("!");
    s.press(kDown);  // the entry after the one found
    EXPECT_EQ(s.screen(), "P> echo two");
    s.type("\r");
    EXPECT_EQ(s.result->text, "echo two");

    // Ctrl-G gives the typed line back; Backspace shortens the query.
    s.start();
    const auto last_row = [&] { return s.screen().substr(s.screen().rfind('\n') + 1); };
    s.type("typed\x12two");
    for (int i = 0; i < 3; ++i)
        s.press(kBackspace);
    EXPECT_EQ(last_row(), "(reverse-i-search)`': typed");
    s.type("p");
    EXPECT_EQ(last_row(), "(reverse-i-search)`p': pwd");
    s.type("\x12x");
    EXPECT_NE(s.screen().find("failed"), std::string::npos);
    s.press(ctrl_key('g'));
    s.type("\r");
    EXPECT_EQ(s.result->text, "typed");
}

TEST(ConsoleEditorSearch, CtrlSSearchesForwardAndCtrlRRepeatsTheLastQuery) {
    Session s;
    s.editor.set_history({"cat a", "cat b", "cat c"});
    EXPECT_EQ(s.enter("\x12"
                      "cat\x12"),
              "cat b");
    // History: cat a, cat b, cat c, cat b. The first Ctrl-R starts a search; the second,
    // with no query typed, takes the last query and finds the newest "cat b".
    s.start();
    s.type("\x12\x12");
    EXPECT_EQ(s.screen().substr(s.screen().rfind('\n') + 1), "(reverse-i-search)`cat': cat b");
    s.type("\x12\x12\x12");
    EXPECT_EQ(s.screen().substr(s.screen().rfind('\n') + 1), "(reverse-i-search)`cat': cat a");
    s.type("\x13");
    EXPECT_EQ(s.screen().substr(s.screen().rfind('\n') + 1), "(i-search)`cat': cat b");
    s.type("\x13\r");
    EXPECT_EQ(s.result->text, "cat c");
}

TEST(ConsoleEditorSearch, RepeatedSearchSkipsEntriesEqualToTheOneShown) {
    Session s;
    s.editor.set_history({"ls y", "ls x", "pwd", "ls x"});  // a file may hold repeats
    s.start();
    s.type("\x12ls\x12");
    EXPECT_EQ(s.screen(), "(reverse-i-search)`ls': ls y");
}

// ---- completion ----------------------------------------------------------------------------

class ConsoleEditorCompletion : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kiln-ced-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    void touch(const std::string& name) { std::ofstream(dir_ / name).put('x'); }
    // "cat <dir>/" followed by `rest`.
    std::string cat(const std::string& rest) const { return "cat " + dir_.string() + "/" + rest; }

    fs::path dir_;
};

TEST_F(ConsoleEditorCompletion, FirstTabInsertsTheCommonPrefixSecondListsTheNames) {
    touch("fileA.txt");
    touch("fileB.txt");
    touch("other");
    Session s;
    s.start();
    s.type(cat("o\t"));
    EXPECT_EQ(s.screen(), "P> " + cat("other"));
    s.type(" " + dir_.string() + "/f\t");
    const std::string typed = cat("other ") + dir_.string() + "/file";
    EXPECT_EQ(s.screen(), "P> " + typed);
    s.type("\t");
    // The display names, not the replacements, then the prompt and the line again.
    EXPECT_EQ(s.screen(), "P> " + typed + "\nfileA.txt  fileB.txt\nP> " + typed);
    s.type("B\t\r");
    EXPECT_EQ(s.result->text, typed + "B.txt");
}

TEST_F(ConsoleEditorCompletion, TabAfterAnotherKeyDoesNotList) {
    touch("abc1");
    touch("abc2");
    Session s;
    s.start();
    s.type(cat("a\t"));
    s.press(kLeft);
    s.press(kRight);
    s.type("\t");
    EXPECT_EQ(s.screen(), "P> " + cat("abc"));
}

TEST_F(ConsoleEditorCompletion, ManyCandidatesAskFirst) {
    for (int i = 0; i < 101; ++i)
        touch("n" + std::to_string(1000 + i));
    Session s({80, 100});
    s.start();
    s.type(cat("n\t\t"));
    EXPECT_NE(s.screen().find("Display all 101 possibilities? (y or n)"), std::string::npos);
    s.type("x");  // neither yes nor no: still asking
    s.type("n");
    EXPECT_EQ(s.screen().find("n1000"), std::string::npos);
    EXPECT_EQ(s.screen().substr(s.screen().rfind('\n') + 1), "P> " + cat("n1"));
    s.type("\t");
    s.type("y");
    EXPECT_NE(s.screen().find("n1100"), std::string::npos);
    s.type("0\r");
    EXPECT_EQ(s.result->text, cat("n10"));
}

TEST_F(ConsoleEditorCompletion, AtTheThresholdTheListingComesWithoutAQuestion) {
    EditorConfig config;
    config.listing_threshold = 3;
    for (const char* name : {"q1", "q2", "q3"})
        touch(name);
    Session s({80, 25}, true, config);
    s.start();
    s.type(cat("q\t\t"));
    EXPECT_EQ(s.screen(), "P> " + cat("q") + "\nq1  q2  q3\nP> " + cat("q"));
}

TEST_F(ConsoleEditorCompletion, LongListingsArePaged) {
    EditorConfig config;
    config.listing_threshold = 1000;
    for (int i = 0; i < 12; ++i)
        touch("long-name-" + std::to_string(10 + i));
    Session s({20, 5}, true, config);  // one name a row, four rows a page
    s.start();
    s.type(cat("l\t\t"));
    EXPECT_NE(s.screen().find("long-name-13\n--More--"), std::string::npos);
    EXPECT_EQ(s.screen().find("long-name-14"), std::string::npos);
    s.type("\r");  // one more row
    EXPECT_NE(s.screen().find("long-name-13\nlong-name-14\n--More--"), std::string::npos);
    EXPECT_EQ(s.screen().find("long-name-15"), std::string::npos);
    s.type(" ");  // a page more
    EXPECT_NE(s.screen().find("long-name-18\n--More--"), std::string::npos);
    s.type("q");
    EXPECT_EQ(s.screen().find("long-name-19"), std::string::npos);
    EXPECT_EQ(s.screen().find("--More--"), std::string::npos);
    // The prompt and the line again, below the rows shown.
    EXPECT_GT(s.screen().rfind("P> "), s.screen().find("long-name-18"));
    s.type("\x03");
    EXPECT_EQ(s.result->outcome, ReadOutcome::Interrupted);
}

TEST(CompletionListing, CommonPrefixNeverCutsACharacter) {
    EXPECT_EQ(common_prefix({"caf\xC3\xA9-1", "caf\xC3\xA9-2"}), "caf\xC3\xA9-");
    EXPECT_EQ(common_prefix({"caf\xC3\xA9", "caf\xC3\xA8"}), "caf");  // é and è share a byte
    EXPECT_EQ(common_prefix({"日本", "日曜"}), "日");
    EXPECT_EQ(common_prefix({"abc", "abd", "x"}), "");
    EXPECT_EQ(common_prefix({"same", "same"}), "same");
}

TEST(CompletionListing, RowsFillDownThenAcrossAndStayNarrowerThanTheConsole) {
    const std::vector<std::string> names{"a", "bb", "ccc", "d", "e"};
    // Cells of 5 columns: three fit in 14 columns ("a    d    " and the last name).
    EXPECT_EQ(listing_rows(names, 14), (std::vector<std::string>{"a    ccc  e", "bb   d"}));
    EXPECT_EQ(listing_rows(names, 13), (std::vector<std::string>{"a    d", "bb   e", "ccc"}));
    EXPECT_EQ(listing_rows({"very-long-name"}, 5), (std::vector<std::string>{"very-long-name"}));
    EXPECT_EQ(listing_rows({"\x1b[31m"}, 20), (std::vector<std::string>{"^[[31m"}));
}

// ---- outcomes ------------------------------------------------------------------------------

TEST(ConsoleEditorOutcomes, CtrlCDropsTheLineInEveryMode) {
    Session s;
    s.editor.set_history({"old"});
    s.start();
    s.type("partial\x03");
    EXPECT_EQ(s.result->outcome, ReadOutcome::Interrupted);
    EXPECT_TRUE(s.result->text.empty());
    EXPECT_EQ(s.screen(), "P> partial^C");
    s.start();
    s.type("\x12ol\x03");
    EXPECT_EQ(s.result->outcome, ReadOutcome::Interrupted);
    EXPECT_EQ(s.editor.history(), (std::vector<std::string>{"old"}));
    // The next read is an ordinary one.
    EXPECT_EQ(s.enter("x"), "x");
}

TEST(ConsoleEditorOutcomes, CtrlDAndCtrlZEndInputOnlyOnAnEmptyLine) {
    Session s;
    s.start();
    s.type("\x04");
    EXPECT_EQ(s.result->outcome, ReadOutcome::EndOfInput);
    s.start();
    s.type("\x1a");
    EXPECT_EQ(s.result->outcome, ReadOutcome::EndOfInput);
    EXPECT_EQ(s.line_of("ab\x1a\x01\x04"), "b");
    // A line emptied again counts as empty.
    s.start();
    s.type("a\x08\x04");
    EXPECT_EQ(s.result->outcome, ReadOutcome::EndOfInput);
}

// ---- console key events --------------------------------------------------------------------

ConsoleKeyEvent event(std::uint16_t code, char16_t unit, bool ctrl = false, bool alt = false) {
    return ConsoleKeyEvent{true, code, unit, ctrl, alt};
}

bool same(const std::optional<Key>& a, const Key& b) {
    return a && a->name == b.name && a->ch == b.ch && a->ctrl == b.ctrl && a->alt == b.alt;
}

TEST(ConsoleKeyDecoder, SurrogatePairsMakeOneCharacter) {
    KeyDecoder d;
    EXPECT_FALSE(d.decode(event(0, 0xD83D)));
    EXPECT_TRUE(same(d.decode(event(0, 0xDE00)), text_key(0x1F600)));
    // A second half without a first, or a first half followed by something else, is dropped.
    EXPECT_FALSE(d.decode(event(0, 0xDE00)));
    EXPECT_FALSE(d.decode(event(0, 0xD83D)));
    EXPECT_TRUE(same(d.decode(event('A', 'a')), text_key('a')));
    EXPECT_FALSE(d.decode(event(0, 0xDE00)));
}

TEST(ConsoleKeyDecoder, ModifiersAndNamedKeys) {
    KeyDecoder d;
    EXPECT_TRUE(same(d.decode(event('C', 0x03, true)), ctrl_key('c')));
    EXPECT_TRUE(same(d.decode(event('R', 0, true)), ctrl_key('r')));  // no character reported
    EXPECT_TRUE(same(d.decode(event('B', 'B', false, true)), alt_key('b')));
    // Right Alt (Ctrl and Alt together) typing a character inserts it.
    EXPECT_TRUE(same(d.decode(event('E', 0x20AC, true, true)), text_key(0x20AC)));
    EXPECT_TRUE(same(d.decode(event(vk::Return, '\r')), named_key(KeyName::Enter)));
    EXPECT_TRUE(same(d.decode(event(vk::Back, 0x7F, true)), named_key(KeyName::Backspace, true)));
    EXPECT_TRUE(same(d.decode(event(vk::Left, 0, true)), named_key(KeyName::Left, true)));
    EXPECT_FALSE(d.decode(event(0x10, 0)));                                  // Shift alone
    EXPECT_FALSE(d.decode(ConsoleKeyEvent{false, 'A', 'a', false, false}));  // a release
    // Alt and number-pad digits: the character arrives with Alt's release.
    EXPECT_TRUE(
        same(d.decode(ConsoleKeyEvent{false, vk::Menu, 0xE9, false, false}), text_key(0xE9)));
}

}  // namespace
}  // namespace kiln
