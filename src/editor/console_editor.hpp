// The console line editor without the console: key presses in, VT output bytes out. The
// Windows adapter feeds it the console's key events; the unit tests feed it key lists.
//
// Emacs keys, history recall and incremental search, list-style completion through the
// hooks, and a wrapping redraw of prompt and line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "editor/console_key.hpp"
#include "editor/edit_line.hpp"
#include "editor/line_editor.hpp"
#include "editor/line_render.hpp"

namespace kiln {

struct ConsoleSize {
    std::size_t columns = 80;
    std::size_t rows = 25;
};

// Where the editor's output goes, and how large the console showing it is.
class ConsoleOutput {
public:
    virtual ~ConsoleOutput() = default;
    virtual void write(std::string_view bytes) = 0;
    virtual ConsoleSize size() = 0;
};

// The modifiers a row of editing keys accepts.
enum class KeyMods : std::uint8_t {
    None,  // neither Ctrl nor Alt
    Ctrl,  // Ctrl without Alt
    Alt,   // Alt without Ctrl; a letter matches in either case
    Word,  // Ctrl, Alt or both: the word-wise form of a named key
    Any,
};

// The keys one row stands for: a character with Ctrl or Alt, or a named key.
struct KeyMatch {
    KeyName name = KeyName::Char;
    char32_t ch = 0;  // for KeyName::Char
    KeyMods mods = KeyMods::Any;
};

class ConsoleEditor {
public:
    // What a key leaves behind: the outcome once the read has ended with it.
    using Outcome = std::optional<ReadResult>;
    // One row of the editing keys: the keys and what they do.
    struct EditKey {
        KeyMatch key;
        Outcome (ConsoleEditor::*action)();
    };
    // The editing keys, no two rows matching the same key. A key that matches no row is
    // inserted when it is text and otherwise ignored.
    static std::span<const EditKey> edit_keys();

    ConsoleEditor(const EditorConfig& config, ConsoleOutput& out) : config_(config), out_(out) {}

    void attach(EditorHooks* hooks) { hooks_ = hooks; }

    // The history, oldest first. Replacing it counts as no change.
    void set_history(std::vector<std::string> entries);
    const std::vector<std::string>& history() const { return history_; }
    // Entries were added since the history was set or last marked saved.
    bool history_changed() const { return history_changed_; }
    void mark_history_saved() { history_changed_ = false; }

    // Begins a read: draws `prompt` (its plain form; the hooks colour it) from column
    // `start_col`, where the console's cursor is.
    void start(std::string prompt, std::size_t start_col = 0);
    // Handles one key; the outcome once the read has ended with it. A returned line has
    // already been added to the history.
    std::optional<ReadResult> press(const Key& key);
    // Draws prompt and line if they changed since last drawn. Call it when no more keys are
    // waiting: a burst of keys (a paste) is then drawn once, not once a key.
    void refresh();

    // The read in progress, for those who watch it: the line, the history entry it stands
    // for (the history's size for the new line), and whether keys edit it rather than search
    // or answer the listing.
    const EditLine& line() const { return line_; }
    std::size_t recalled() const { return recall_index_; }
    bool editing() const { return mode_ == Mode::Edit; }

private:
    enum class Mode { Edit, Search, AskListing, Paging };

    struct Search {
        std::string query;
        bool backward = true;
        bool failed = false;
        std::size_t match = 0;  // index into recall_ of the line shown
        EditLine saved;         // the line and entry before the search, for Ctrl-G
        std::size_t saved_index = 0;
    };

    std::optional<ReadResult> press_edit(const Key& key);
    Key take_meta(Key key);
    std::optional<ReadResult> press_search(const Key& key);
    void press_ask(const Key& key);
    void press_paging(const Key& key);

    std::optional<ReadResult> accept();
    std::optional<ReadResult> interrupt();
    std::optional<ReadResult> end_of_input();

    // The actions of the editing keys.
    Outcome delete_or_end();
    Outcome end_if_empty();
    Outcome search_backward();
    Outcome search_forward();
    Outcome to_line_start();
    Outcome to_line_end();
    Outcome to_prev_char();
    Outcome to_next_char();
    Outcome to_word_start();
    Outcome to_word_end();
    Outcome erase_prev_char();
    Outcome erase_next_char();
    Outcome kill_to_end();
    Outcome kill_to_start();
    Outcome kill_blank_word_back();
    Outcome kill_word_back();
    Outcome kill_word_forward();
    Outcome yank();
    Outcome transpose();
    Outcome clear_screen();
    Outcome history_prev();
    Outcome history_next();
    Outcome history_first();
    Outcome history_last();
    Outcome complete_word();
    Outcome start_meta();
    Outcome redrawn() {
        redraw();
        return std::nullopt;
    }

    void kill(std::size_t from, std::size_t to, bool backward);
    void recall(std::size_t index);

    void start_search(bool backward);
    void search_step(bool again);
    void leave_search();
    std::string search_prompt() const;

    void complete(bool after_tab);
    void list_candidates(const std::vector<Candidate>& candidates);
    void show_listing_rows(std::size_t count);
    void finish_listing();

    void redraw() { stale_ = true; }
    // Other output first brings the line on the screen up to date.
    void write(std::string_view bytes) {
        refresh();
        out_.write(bytes);
    }

    EditorConfig config_;
    ConsoleOutput& out_;
    EditorHooks* hooks_ = nullptr;
    std::vector<std::string> history_;
    bool history_changed_ = false;

    // The read in progress.
    std::string prompt_;
    EditLine line_;
    std::vector<std::string> recall_;  // history copies and the new line, edited in place
    std::size_t recall_index_ = 0;
    Placement drawn_;     // where the line on the screen is
    bool stale_ = false;  // the line changed since it was drawn
    Mode mode_ = Mode::Edit;
    Search search_;
    std::string last_query_;
    std::string kill_buffer_;
    bool last_was_kill_ = false;
    bool last_was_ambiguous_tab_ = false;
    bool after_kill_ = false;    // the key before the one being handled was a kill
    bool after_tab_ = false;     // ... was a Tab that left more than one candidate
    bool meta_pending_ = false;  // Escape was pressed: the next key comes with Alt
    std::vector<std::string> listing_;
    std::vector<std::string> listing_names_;  // waiting for the answer to "Display all"
    std::size_t listing_next_ = 0;
};

}  // namespace kiln
