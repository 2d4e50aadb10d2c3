// The line editor on POSIX: GNU readline on a terminal, plain line reads otherwise.
//
// readline runs through its callback interface so that the editor owns the wait for input:
// Ctrl-C is caught by the shell's own handler (platform::catch_interrupts) and noticed here,
// which drops the partly typed line and reports "interrupted". readline's own signal
// handling is off; it keeps only its window-size handling.
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// readline's headers expect <cstdio> first.
#include <readline/history.h>
#include <readline/readline.h>

#include "common/text.hpp"
#include "editor/completion_listing.hpp"
#include "editor/line_editor.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// ---- state shared with readline's plain-function callbacks ---------------------------------

const Completer* g_completer = nullptr;  // the live editor's, when it has one
std::vector<std::string> g_displays;     // listing texts of the last completion, in match order
bool g_ambiguous = false;                // the last completion left more than one candidate

struct PendingRead {
    bool done = false;
    ReadResult result;
};
PendingRead g_read;

char* copy_cstr(std::string_view text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

// The coloured prompt with every escape sequence between readline's invisible-text markers,
// so that the prompt's width is measured on its visible characters only.
std::string mark_invisible(std::string_view colored) {
    std::string out;
    for (std::size_t i = 0; i < colored.size(); ++i) {
        if (colored[i] != '\x1b') {
            out += colored[i];
            continue;
        }
        std::size_t end = i + 1;
        if (end < colored.size() && colored[end] == '[') {
            ++end;
            while (end < colored.size() && !(colored[end] >= '@' && colored[end] <= '~'))
                ++end;
        }
        end = std::min(end + 1, colored.size());
        out += RL_PROMPT_START_IGNORE;
        out.append(colored.substr(i, end - i));
        out += RL_PROMPT_END_IGNORE;
        i = end - 1;
    }
    return out;
}

// ---- completion ----------------------------------------------------------------------------

Completion complete_before(std::string_view before) {
    if (g_completer == nullptr || !*g_completer) return {};
    return (*g_completer)(before, before.size());
}

// readline finds the word to replace itself, from a set of break characters. The break set
// given to it is one ASCII character that precedes the completion's start and does not occur
// between there and the cursor, so readline's word starts where ours does (or a little
// earlier, in which case the text in between is put back in front of every candidate).
std::size_t readline_start(std::string_view before, std::size_t start) {
    for (std::size_t r = start; r > 0; --r) {
        const unsigned char c = static_cast<unsigned char>(before[r - 1]);
        if (c != 0 && c < 0x80 &&
            before.substr(r).find(static_cast<char>(c)) == std::string::npos) {
            return r;
        }
    }
    return 0;
}

char* word_break_hook() {
    static std::string breaks;
    const std::string_view before(rl_line_buffer, static_cast<std::size_t>(rl_point));
    const Completion c = complete_before(before);
    const std::size_t r = readline_start(before, c.start);
    breaks.clear();
    if (r > 0) {
        breaks += before[r - 1];
    } else {
        // No break before the word at all: any character absent from the text will do.
        for (int b = 1; b < 0x80 && breaks.empty(); ++b) {
            if (before.find(static_cast<char>(b)) == std::string_view::npos) {
                breaks += static_cast<char>(b);
            }
        }
    }
    return breaks.data();
}

// A NULL-terminated array in readline's layout: [0] the text to insert, then the matches.
char** to_match_array(const std::vector<std::string>& matches, std::string_view typed) {
    std::string first = matches.front();
    if (matches.size() > 1) {
        first = common_prefix(matches);
        if (first.size() < typed.size()) first = std::string(typed);  // never lose typed text
    }
    const std::size_t extra = matches.size() > 1 ? matches.size() : 0;
    char** array = static_cast<char**>(std::calloc(extra + 2, sizeof(char*)));
    if (array == nullptr) return nullptr;
    array[0] = copy_cstr(first);
    for (std::size_t i = 0; i < extra; ++i)
        array[i + 1] = copy_cstr(matches[i]);
    return array;
}

char** attempt_completion(const char*, int start, int end) {
    // The candidates are inserted exactly as they are: no quoting, no appended character, and
    // no fallback to readline's own file-name completion.
    rl_attempted_completion_over = 1;
    rl_completion_suppress_append = 1;
    rl_completion_append_character = '\0';
    rl_filename_completion_desired = 0;
    rl_filename_quoting_desired = 0;
    rl_completion_suppress_quote = 1;
    g_displays.clear();
    g_ambiguous = false;
    if (start < 0 || end < start) return nullptr;

    const std::string_view before(rl_line_buffer, static_cast<std::size_t>(end));
    Completion c = complete_before(before);
    const auto rl_start = static_cast<std::size_t>(start);
    if (c.candidates.empty() || rl_start > c.start) return nullptr;
    const std::string_view carried = before.substr(rl_start, c.start - rl_start);
    std::vector<std::string> matches;
    for (auto& cand : c.candidates) {
        matches.push_back(std::string(carried) + cand.replacement);
        g_displays.push_back(std::move(cand.display));
    }
    g_ambiguous = matches.size() > 1;
    return to_match_array(matches, before.substr(rl_start));
}

// Tab: the first press inserts the longest common prefix, the next one lists the candidates.
// (readline's own `complete` would list only after a press that changed nothing.)
int complete_or_list(int count, int key) {
    if (rl_last_func == complete_or_list && g_ambiguous) return rl_possible_completions(count, key);
    return rl_complete(count, key);
}

std::size_t columns(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); i += decode_utf8(text, i).len)
        ++n;
    return n;
}

// True for y, Y or a blank; false for n, N, Delete or Ctrl-G; other keys are ignored.
bool ask_yes_no() {
    while (true) {
        const int c = rl_read_key();
        if (c == 'y' || c == 'Y' || c == ' ') return true;
        if (c == 'n' || c == 'N' || c == 0x7f || c == 0x07 || c == EOF) return false;
    }
}

// The listing shows each candidate's display text, not its replacement.
void display_matches(char** matches, int count, int) {
    if (matches == nullptr || count <= 0 || g_displays.size() != static_cast<std::size_t>(count)) {
        return;
    }
    if (rl_completion_query_items > 0 && count >= rl_completion_query_items) {
        rl_crlf();
        std::fprintf(rl_outstream, "Display all %d possibilities? (y or n)", count);
        std::fflush(rl_outstream);
        if (!ask_yes_no()) {
            rl_crlf();
            rl_forced_update_display();
            return;
        }
    }
    // The listing starts on a line of its own.
    std::vector<char*> shown{const_cast<char*>("")};
    std::size_t widest = 0;
    for (auto& d : g_displays) {
        shown.push_back(d.data());
        widest = std::max(widest, columns(d));
    }
    shown.push_back(nullptr);
    // readline turns its "--More--" pager off in callback mode; the listing is shown from
    // within a key's handler, where a blocking read of the answer is fine.
    const bool callback = RL_ISSTATE(RL_STATE_CALLBACK);
    RL_UNSETSTATE(RL_STATE_CALLBACK);
    rl_display_match_list(shown.data(), count, static_cast<int>(widest));
    if (callback) RL_SETSTATE(RL_STATE_CALLBACK);
    rl_forced_update_display();
}

// ---- set-up --------------------------------------------------------------------------------

// Shell text is UTF-8: readline moves and erases by characters only in a UTF-8 locale.
void use_utf8_locale() {
    if (std::setlocale(LC_CTYPE, "") != nullptr &&
        std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        return;
    }
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C");
}

// The shell's defaults, applied before readline reads the user's init file (~/.inputrc), so
// that the user's own settings win.
void configure_readline(const EditorConfig& config) {
    use_utf8_locale();
    rl_readline_name = "kiln";
    rl_instream = stdin;
    rl_outstream = ::isatty(STDOUT_FILENO) == 1 ? stdout : stderr;
    rl_catch_signals = 0;
    rl_catch_sigwinch = 1;
    rl_change_environment = 0;  // LINES and COLUMNS stay out of the commands' environment
    rl_variable_bind("editing-mode", "emacs");
    rl_variable_bind("bell-style", "none");
    rl_variable_bind("enable-bracketed-paste", "on");
    rl_variable_bind("page-completions", "on");
    rl_variable_bind("show-all-if-ambiguous", "off");
    // readline asks when the count reaches this value; the shell asks above the threshold.
    rl_completion_query_items = static_cast<int>(config.listing_threshold) + 1;
    rl_completer_quote_characters = nullptr;
    rl_basic_quote_characters = "";       // a quote before the word is not a closing delimiter
    rl_sort_completion_matches = 0;       // the candidates come sorted by bytes
    rl_ignore_completion_duplicates = 0;  // keeps the inserted text as computed here
    rl_completion_word_break_hook = word_break_hook;
    rl_attempted_completion_function = attempt_completion;
    rl_completion_display_matches_hook = display_matches;
    rl_add_defun("kiln-complete", complete_or_list, '\t');
    using_history();
    stifle_history(static_cast<int>(config.history_limit));
    rl_initialize();
}

// ---- reading -------------------------------------------------------------------------------

void on_line(char* line) {
    rl_callback_handler_remove();
    g_read.done = true;
    if (line == nullptr) {
        g_read.result = {ReadOutcome::EndOfInput, {}};
        return;
    }
    g_read.result = {ReadOutcome::Line, line};
    std::free(line);
}

// Drops the partly typed line after Ctrl-C (shown as ^C), or when the shell is to end, and
// leaves the terminal as it was and the cursor on a fresh line.
void cancel_line(bool show) {
    rl_free_line_state();
    rl_callback_sigcleanup();
    if (show) rl_echo_signal_char(SIGINT);
    rl_callback_handler_remove();
    std::fputs("\n", rl_outstream);
    std::fflush(rl_outstream);
}

// Feeds readline one key at a time until a line is complete, Ctrl-C, an ending (SIGHUP or
// SIGTERM: the line being typed is dropped, never saved) or an error. These signals are
// blocked except while waiting, so that none is lost between the check and the wait.
ReadResult read_terminal_line(const std::string& prompt) {
    g_read = {};
    rl_callback_handler_install(prompt.c_str(), on_line);
    sigset_t block;
    sigset_t saved;
    sigemptyset(&block);
    for (int signal : {SIGINT, SIGHUP, SIGTERM})
        sigaddset(&block, signal);
    sigprocmask(SIG_BLOCK, &block, &saved);
    while (!g_read.done) {
        const bool ending = platform::ending_pending();
        if (platform::take_interrupt()) {
            cancel_line(!ending);
            g_read.result = {ReadOutcome::Interrupted, {}};
            break;
        }
        pollfd pfd{fileno(rl_instream), POLLIN, 0};
        const int ready = ppoll(&pfd, 1, nullptr, &saved);
        if (ready < 0 && errno == EINTR) {
            rl_check_signals();  // a window-size change
            continue;
        }
        if (ready < 0 || (pfd.revents & POLLNVAL) != 0) {
            const std::string error = platform::describe({errno, std::strerror(errno)});
            rl_callback_handler_remove();
            g_read.result = {ReadOutcome::Error, error};
            break;
        }
        rl_callback_read_char();
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    return g_read.result;
}

class ReadlineEditor : public LineEditor {
public:
    explicit ReadlineEditor(const EditorConfig& config)
        : config_(config), terminal_(platform::stdin_is_terminal()) {
        if (terminal_) configure_readline(config_);
        g_completer = &config_.completer;
    }
    ~ReadlineEditor() override { g_completer = nullptr; }

    void attach(EditorHooks* hooks) override { hooks_ = hooks; }

    Result<void, std::string> load_history(const std::string& path) override {
        auto entries = load_history_record(record_, path, config_.history_limit);
        if (!entries) return fail(entries.error());
        clear_history();
        for (const auto& e : *entries)
            add_history(e.c_str());
        return {};
    }

    Result<void, std::string> save_history(const std::string& path) override {
        return save_history_record(record_, path, config_.history_limit);
    }

    ReadResult read_line(const std::string& prompt) override {
        if (!terminal_) return read_plain_line();
        // A Ctrl-C that reached the shell after the last command ended is not for this read.
        (void)platform::take_interrupt();
        const std::string shown =
            hooks_ != nullptr ? mark_invisible(hooks_->highlight_prompt(prompt, true)) : prompt;
        ReadResult result = read_terminal_line(shown);
        if (result.outcome == ReadOutcome::Line) remember(result.text);
        return result;
    }

private:
    void remember(const std::string& line) {
        if (!history_accepts(line, last_entry())) return;
        add_history(line.c_str());
        record_history_line(record_, line);
    }

    static std::vector<std::string> last_entry() {
        HIST_ENTRY* last =
            history_length > 0 ? history_get(history_base + history_length - 1) : nullptr;
        if (last == nullptr) return {};
        return {last->line};
    }

    EditorConfig config_;
    bool terminal_;
    EditorHooks* hooks_ = nullptr;
    HistoryRecord record_;
};

}  // namespace

std::unique_ptr<LineEditor> make_line_editor(const EditorConfig& config) {
    return std::make_unique<ReadlineEditor>(config);
}

}  // namespace kiln
