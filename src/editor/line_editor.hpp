// The line editor the interactive loop reads through: configuration, callbacks and outcomes.
// Each platform has its own implementation (editor_posix.cpp, editor_windows.cpp).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "editor/history.hpp"

namespace kiln {

struct Candidate {
    std::string display;      // shown when the candidates are listed
    std::string replacement;  // replaces the text from the start offset to the cursor
};

struct Completion {
    std::size_t start = 0;  // byte offset where the replaced text begins; never past the cursor
    std::vector<Candidate> candidates;
};

// What Tab offers for the word that ends at byte offset `pos` of `line`.
using Completer = std::function<Completion(std::string_view line, std::size_t pos)>;

// Fixed when the editor is created.
struct EditorConfig {
    std::size_t history_limit = kHistoryLimit;
    // More candidates than this: the listing asks "Display all {n} possibilities? (y or n)".
    std::size_t listing_threshold = 100;
    Completer completer;  // without one, Tab offers nothing
};

// The one object the editor calls back; the loop changes colored_prompt in place before
// every read, and the editor reads it whenever it draws the prompt.
struct EditorHooks {
    std::string colored_prompt;

    // The coloured prompt for the prompt given to the read; the editor's own prompts (such as
    // the incremental-search prompt) stay as they are.
    std::string highlight_prompt(std::string_view prompt, bool is_read_prompt) const {
        return is_read_prompt ? colored_prompt : std::string(prompt);
    }
};

enum class ReadOutcome { Line, Interrupted, EndOfInput, Error };

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::EndOfInput;
    std::string text;  // the line without its line end, or the error's description
};

class LineEditor {
public:
    virtual ~LineEditor() = default;

    // The hooks live as long as the editor; the editor does not own them.
    virtual void attach(EditorHooks* hooks) = 0;
    // Replaces the history with the file's entries.
    virtual Result<void, std::string> load_history(const std::string& path) = 0;
    // Rewrites the file with the whole history, only when entries were added since loading.
    virtual Result<void, std::string> save_history(const std::string& path) = 0;
    // Shows `prompt` (its plain form; the hooks colour it) and reads one line. Every line
    // read from a terminal is added to the history before it is returned.
    virtual ReadResult read_line(const std::string& prompt) = 0;
};

std::unique_ptr<LineEditor> make_line_editor(const EditorConfig& config);

// One line of standard input without prompt, editing or history, for input that is not a
// terminal: the line end (line feed, or carriage return and line feed) is dropped.
ReadResult read_plain_line();

}  // namespace kiln
