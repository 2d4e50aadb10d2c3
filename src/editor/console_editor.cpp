// The console line editor's key handling: one mode at a time (editing, incremental search,
// the "Display all" question, the "--More--" pager), a full redraw after every change. The
// editing keys are a table of rows, each naming a small action.
#include "editor/console_editor.hpp"

#include <algorithm>
#include <utility>

#include "common/text.hpp"
#include "editor/completion_listing.hpp"
#include "editor/history.hpp"

namespace kiln {
namespace {

char32_t ascii_lower(char32_t c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

bool is_char(const Key& key, char32_t c) {
    return key.name == KeyName::Char && !key.ctrl && !key.alt && key.ch == c;
}

// Keys that end an answer or the pager with "no".
bool is_refusal(const Key& key) {
    return is_char(key, 'n') || is_char(key, 'N') || is_char(key, 'q') || is_char(key, 'Q') ||
           key.is(KeyName::Escape) || key.is(KeyName::Backspace) || key.is_ctrl('g');
}

// Text the line can hold: valid UTF-8 on one line.
bool fits_line(std::string_view text) {
    return is_valid_utf8(text) && text.find_first_of("\r\n") == std::string_view::npos;
}

bool is_enter(const Key& key) {
    return key.is(KeyName::Enter) || key.is_ctrl('m') || key.is_ctrl('j');
}

bool mods_match(KeyMods mods, const Key& key) {
    switch (mods) {
        case KeyMods::None:
            return !key.ctrl && !key.alt;
        case KeyMods::Ctrl:
            return key.ctrl && !key.alt;
        case KeyMods::Alt:
            return key.alt && !key.ctrl;
        case KeyMods::Word:
            return key.ctrl || key.alt;
        case KeyMods::Any:
            return true;
    }
    return false;
}

bool matches(const KeyMatch& match, const Key& key) {
    if (match.name != key.name || !mods_match(match.mods, key)) return false;
    return key.name != KeyName::Char || match.ch == (key.alt ? ascii_lower(key.ch) : key.ch);
}

constexpr KeyMatch ctrl(char c) {
    return {KeyName::Char, static_cast<char32_t>(c), KeyMods::Ctrl};
}
constexpr KeyMatch alt(char c) {
    return {KeyName::Char, static_cast<char32_t>(c), KeyMods::Alt};
}
constexpr KeyMatch named(KeyName name, KeyMods mods = KeyMods::Any) {
    return {name, 0, mods};
}

}  // namespace

// The history file is shared with the other platform's editor and with other programs: an
// entry of several lines is left out, and invalid UTF-8 shows as U+FFFD.
void ConsoleEditor::set_history(std::vector<std::string> entries) {
    std::erase_if(entries, [](const std::string& e) { return e.find_first_of("\r\n") != e.npos; });
    for (std::string& e : entries)
        e = take_valid_utf8(std::move(e));
    if (entries.size() > config_.history_limit) {
        entries.erase(entries.begin(),
                      entries.end() - static_cast<std::ptrdiff_t>(config_.history_limit));
    }
    history_ = std::move(entries);
    history_changed_ = false;
}

void ConsoleEditor::start(std::string prompt, std::size_t start_col) {
    prompt_ = std::move(prompt);
    line_ = {};
    recall_ = history_;
    recall_.emplace_back();
    recall_index_ = recall_.size() - 1;
    drawn_ = {};
    drawn_.origin_col = start_col;
    mode_ = Mode::Edit;
    last_was_kill_ = false;
    last_was_ambiguous_tab_ = false;
    meta_pending_ = false;
    redraw();
}

std::optional<ReadResult> ConsoleEditor::press(const Key& key) {
    if (key.is_ctrl('c')) return interrupt();
    switch (mode_) {
        case Mode::Edit:
            return press_edit(key);
        case Mode::Search:
            return press_search(key);
        case Mode::AskListing:
            press_ask(key);
            return std::nullopt;
        case Mode::Paging:
            press_paging(key);
            return std::nullopt;
    }
    return std::nullopt;
}

// ---- editing -------------------------------------------------------------------------------

std::span<const ConsoleEditor::EditKey> ConsoleEditor::edit_keys() {
    using E = ConsoleEditor;
    using enum KeyName;
    static constexpr EditKey rows[] = {
        {named(Enter), &E::accept},
        {ctrl('m'), &E::accept},
        {ctrl('j'), &E::accept},
        {ctrl('c'), &E::interrupt},
        {ctrl('d'), &E::delete_or_end},
        {ctrl('z'), &E::end_if_empty},
        {ctrl('r'), &E::search_backward},
        {ctrl('s'), &E::search_forward},
        {ctrl('a'), &E::to_line_start},
        {named(Home), &E::to_line_start},
        {ctrl('e'), &E::to_line_end},
        {named(End), &E::to_line_end},
        {ctrl('b'), &E::to_prev_char},
        {named(Left, KeyMods::None), &E::to_prev_char},
        {ctrl('f'), &E::to_next_char},
        {named(Right, KeyMods::None), &E::to_next_char},
        {alt('b'), &E::to_word_start},
        {named(Left, KeyMods::Word), &E::to_word_start},
        {alt('f'), &E::to_word_end},
        {named(Right, KeyMods::Word), &E::to_word_end},
        {ctrl('h'), &E::erase_prev_char},
        {named(Backspace, KeyMods::None), &E::erase_prev_char},
        {named(Delete), &E::erase_next_char},
        {ctrl('k'), &E::kill_to_end},
        {ctrl('u'), &E::kill_to_start},
        {ctrl('w'), &E::kill_blank_word_back},
        {named(Backspace, KeyMods::Word), &E::kill_word_back},
        {alt('d'), &E::kill_word_forward},
        {ctrl('y'), &E::yank},
        {ctrl('t'), &E::transpose},
        {ctrl('l'), &E::clear_screen},
        {ctrl('p'), &E::history_prev},
        {named(Up), &E::history_prev},
        {ctrl('n'), &E::history_next},
        {named(Down), &E::history_next},
        {alt('<'), &E::history_first},
        {alt('>'), &E::history_last},
        {named(Tab), &E::complete_word},
        {named(Escape), &E::start_meta},
    };
    return rows;
}

// Escape, then a key: the key with Alt, a letter in lower case.
Key ConsoleEditor::take_meta(Key key) {
    if (!std::exchange(meta_pending_, false)) return key;
    if (key.name == KeyName::Char && !key.ctrl) {
        key.alt = true;
        key.ch = ascii_lower(key.ch);
    } else if (key.is(KeyName::Backspace)) {
        key.alt = true;
    }
    return key;
}

std::optional<ReadResult> ConsoleEditor::press_edit(const Key& pressed) {
    const Key key = take_meta(pressed);
    after_kill_ = std::exchange(last_was_kill_, false);
    after_tab_ = std::exchange(last_was_ambiguous_tab_, false);
    for (const EditKey& row : edit_keys()) {
        if (matches(row.key, key)) return (this->*row.action)();
    }
    if (key.is_text()) {
        std::string bytes;
        append_utf8(bytes, key.ch);
        insert_text(line_, bytes);
    }
    return redrawn();
}

// Ctrl-D deletes forward, and ends the input on an empty line; Ctrl-Z only ends it.
ConsoleEditor::Outcome ConsoleEditor::delete_or_end() {
    return line_.text.empty() ? end_of_input() : erase_next_char();
}

ConsoleEditor::Outcome ConsoleEditor::end_if_empty() {
    return line_.text.empty() ? end_of_input() : redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::search_backward() {
    start_search(true);
    return std::nullopt;
}

ConsoleEditor::Outcome ConsoleEditor::search_forward() {
    start_search(false);
    return std::nullopt;
}

ConsoleEditor::Outcome ConsoleEditor::to_line_start() {
    line_.cursor = 0;
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::to_line_end() {
    line_.cursor = line_.text.size();
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::to_prev_char() {
    line_.cursor = prev_char(line_.text, line_.cursor);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::to_next_char() {
    line_.cursor = next_char(line_.text, line_.cursor);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::to_word_start() {
    line_.cursor = prev_word_start(line_.text, line_.cursor);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::to_word_end() {
    line_.cursor = next_word_end(line_.text, line_.cursor);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::erase_prev_char() {
    erase_range(line_, prev_char(line_.text, line_.cursor), line_.cursor);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::erase_next_char() {
    erase_range(line_, line_.cursor, next_char(line_.text, line_.cursor));
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::kill_to_end() {
    kill(line_.cursor, line_.text.size(), false);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::kill_to_start() {
    kill(0, line_.cursor, true);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::kill_blank_word_back() {
    kill(prev_blank_word_start(line_.text, line_.cursor), line_.cursor, true);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::kill_word_back() {
    kill(prev_word_start(line_.text, line_.cursor), line_.cursor, true);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::kill_word_forward() {
    kill(line_.cursor, next_word_end(line_.text, line_.cursor), false);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::yank() {
    insert_text(line_, kill_buffer_);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::transpose() {
    transpose_chars(line_);
    return redrawn();
}

// Clears the console; the prompt and line are drawn again at its top.
ConsoleEditor::Outcome ConsoleEditor::clear_screen() {
    write("\x1b[H\x1b[2J");
    drawn_ = {};
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::history_prev() {
    if (recall_index_ > 0) recall(recall_index_ - 1);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::history_next() {
    recall(recall_index_ + 1);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::history_first() {
    recall(0);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::history_last() {
    recall(recall_.size() - 1);
    return redrawn();
}

ConsoleEditor::Outcome ConsoleEditor::complete_word() {
    complete(after_tab_);
    return std::nullopt;
}

ConsoleEditor::Outcome ConsoleEditor::start_meta() {
    meta_pending_ = true;
    return std::nullopt;
}

// Consecutive kills collect into one piece of text, as they do in Emacs.
void ConsoleEditor::kill(std::size_t from, std::size_t to, bool backward) {
    std::string removed = erase_range(line_, from, to);
    if (!after_kill_) {
        kill_buffer_ = std::move(removed);
    } else if (backward) {
        kill_buffer_.insert(0, removed);
    } else {
        kill_buffer_ += removed;
    }
    last_was_kill_ = true;
}

// Shows another history entry; the edits made to the one left are kept until the read ends.
void ConsoleEditor::recall(std::size_t index) {
    if (index >= recall_.size() || index == recall_index_) return;
    recall_[recall_index_] = line_.text;
    recall_index_ = index;
    line_ = {recall_[index], recall_[index].size()};
}

std::optional<ReadResult> ConsoleEditor::accept() {
    if (mode_ == Mode::Search) leave_search();
    refresh();
    std::string out;
    leave_line(out, drawn_);
    write(out);
    if (history_accepts(line_.text, history_)) {
        history_.push_back(line_.text);
        if (history_.size() > config_.history_limit) {
            history_.erase(history_.begin(),
                           history_.end() - static_cast<std::ptrdiff_t>(config_.history_limit));
        }
        history_changed_ = true;
    }
    return ReadResult{ReadOutcome::Line, std::move(line_.text)};
}

// Drops the line; "^C" marks where it was given up.
std::optional<ReadResult> ConsoleEditor::interrupt() {
    std::string out;
    if (mode_ == Mode::Edit || mode_ == Mode::Search) {
        line_.cursor = line_.text.size();
        redraw();
        out = "^C\r\n";
    } else if (mode_ == Mode::AskListing) {
        out = "\r\n";
    } else {
        out = "\r\x1b[K";
    }
    write(out);
    mode_ = Mode::Edit;
    return ReadResult{ReadOutcome::Interrupted, {}};
}

std::optional<ReadResult> ConsoleEditor::end_of_input() {
    refresh();
    std::string out;
    leave_line(out, drawn_);
    write(out);
    return ReadResult{ReadOutcome::EndOfInput, {}};
}

// ---- incremental search --------------------------------------------------------------------

void ConsoleEditor::start_search(bool backward) {
    recall_[recall_index_] = line_.text;
    search_ = Search{{}, backward, false, recall_index_, line_, recall_index_};
    mode_ = Mode::Search;
    redraw();
}

std::string ConsoleEditor::search_prompt() const {
    std::string p = search_.failed ? "(failed " : "(";
    p += search_.backward ? "reverse-i-search)`" : "i-search)`";
    p += search_.query;
    p += "': ";
    return p;
}

// Looks for the query from the entry shown (from the next one when `again`), in the search's
// direction. The line being typed (the last slot of recall_) is not searched. Going on
// skips entries equal to the one shown, so that repeated lines are not stepped through.
void ConsoleEditor::search_step(bool again) {
    const std::string& q = search_.query;
    if (q.empty()) return;
    last_query_ = q;
    const auto last = static_cast<std::ptrdiff_t>(recall_.size()) - 1;
    const auto step = search_.backward ? -1 : 1;
    auto i = static_cast<std::ptrdiff_t>(search_.match) + (again ? step : 0);
    if (i >= last) i = search_.backward ? last - 1 : last;
    for (; i >= 0 && i < last; i += step) {
        const std::string& entry = recall_[static_cast<std::size_t>(i)];
        if (again && entry == line_.text) continue;
        const std::size_t at = search_.backward ? entry.rfind(q) : entry.find(q);
        if (at == std::string::npos) continue;
        search_.match = static_cast<std::size_t>(i);
        search_.failed = false;
        line_ = {entry, at};
        return;
    }
    search_.failed = true;
}

std::optional<ReadResult> ConsoleEditor::press_search(const Key& key) {
    if (is_enter(key)) return accept();
    if (key.is_ctrl('g')) {
        line_ = search_.saved;
        recall_index_ = search_.saved_index;
        mode_ = Mode::Edit;
    } else if (key.is(KeyName::Escape)) {
        leave_search();
        return std::nullopt;
    } else if (key.is_ctrl('r') || key.is_ctrl('s')) {
        search_.backward = key.ch == 'r';
        const bool again = !search_.query.empty();
        if (!again) search_.query = last_query_;
        search_step(again);
    } else if (key.is(KeyName::Backspace) || key.is_ctrl('h')) {
        // A shorter query searches again from where the search began.
        search_.query.resize(prev_char(search_.query, search_.query.size()));
        search_.match = search_.saved_index;
        search_.failed = false;
        line_ = search_.saved;
        search_step(false);
    } else if (key.is_text()) {
        append_utf8(search_.query, key.ch);
        search_step(false);
    } else {
        leave_search();
        return press_edit(key);
    }
    redraw();
    return std::nullopt;
}

// Ends the search keeping the line found, which becomes the history entry being edited.
void ConsoleEditor::leave_search() {
    mode_ = Mode::Edit;
    recall_index_ = search_.match;
    redraw();
}

// ---- completion ----------------------------------------------------------------------------

// The first Tab inserts the candidates' common prefix; the next one lists them.
void ConsoleEditor::complete(bool after_tab) {
    if (!config_.completer) return;
    Completion c = config_.completer(line_.text, line_.cursor);
    // A name that is not valid UTF-8 cannot be typed, and one of several lines is not a line.
    std::erase_if(c.candidates, [](const Candidate& cand) { return !fits_line(cand.replacement); });
    if (c.candidates.empty() || c.start > line_.cursor) return;
    if (c.candidates.size() > 1 && after_tab) {
        list_candidates(c.candidates);
        return;
    }
    std::string insert = c.candidates.front().replacement;
    if (c.candidates.size() > 1) {
        std::vector<std::string> replacements;
        for (const auto& cand : c.candidates)
            replacements.push_back(cand.replacement);
        insert = common_prefix(replacements);
        // Never shorter than what was typed (candidates may match without regard to case).
        if (insert.size() < line_.cursor - c.start) {
            insert = line_.text.substr(c.start, line_.cursor - c.start);
        }
        last_was_ambiguous_tab_ = true;
    }
    line_.text.replace(c.start, line_.cursor - c.start, insert);
    line_.cursor = c.start + insert.size();
    redraw();
}

void ConsoleEditor::list_candidates(const std::vector<Candidate>& candidates) {
    refresh();
    std::string out;
    leave_line(out, drawn_);
    listing_names_.clear();
    for (const auto& cand : candidates)
        listing_names_.push_back(cand.display);
    if (candidates.size() > config_.listing_threshold) {
        out += "Display all " + std::to_string(candidates.size()) + " possibilities? (y or n)";
        write(out);
        mode_ = Mode::AskListing;
        return;
    }
    write(out);
    listing_ = listing_rows(listing_names_, out_.size().columns);
    listing_next_ = 0;
    show_listing_rows(std::max<std::size_t>(out_.size().rows, 2) - 1);
}

void ConsoleEditor::press_ask(const Key& key) {
    if (is_char(key, 'y') || is_char(key, 'Y') || is_char(key, ' ')) {
        write("\r\n");
        listing_ = listing_rows(listing_names_, out_.size().columns);
        listing_next_ = 0;
        show_listing_rows(std::max<std::size_t>(out_.size().rows, 2) - 1);
    } else if (is_refusal(key)) {
        write("\r\n");
        finish_listing();
    }
}

// Writes up to `count` more rows; "--More--" waits when rows remain.
void ConsoleEditor::show_listing_rows(std::size_t count) {
    std::string out;
    for (; count > 0 && listing_next_ < listing_.size(); --count) {
        out += listing_[listing_next_++];
        out += "\r\n";
    }
    if (listing_next_ < listing_.size()) {
        out += "--More--";
        write(out);
        mode_ = Mode::Paging;
        return;
    }
    write(out);
    finish_listing();
}

// Space shows the next page, Return the next row; q or n stops.
void ConsoleEditor::press_paging(const Key& key) {
    if (is_char(key, ' ') || is_char(key, 'y') || is_char(key, 'Y')) {
        write("\r\x1b[K");
        show_listing_rows(std::max<std::size_t>(out_.size().rows, 2) - 1);
    } else if (is_enter(key)) {
        write("\r\x1b[K");
        show_listing_rows(1);
    } else if (is_refusal(key)) {
        write("\r\x1b[K");
        finish_listing();
    }
}

// Prompt and line again below the listing; another Tab lists again.
void ConsoleEditor::finish_listing() {
    mode_ = Mode::Edit;
    listing_.clear();
    listing_names_.clear();
    listing_next_ = 0;
    last_was_ambiguous_tab_ = true;
    drawn_ = {};
    redraw();
}

void ConsoleEditor::refresh() {
    if (!stale_) return;
    stale_ = false;
    const bool searching = mode_ == Mode::Search;
    const std::string plain = searching ? search_prompt() : prompt_;
    const std::string shown =
        hooks_ != nullptr ? hooks_->highlight_prompt(plain, !searching) : plain;
    std::string out;
    drawn_ = draw_line(out, {shown, plain, line_.text, line_.cursor}, out_.size().columns, drawn_);
    out_.write(out);
}

}  // namespace kiln
