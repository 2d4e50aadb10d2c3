// The interactive side of the shell: the start-up file and the read-run loop at the prompt.
#include <optional>
#include <string>

#include "common/text.hpp"
#include "editor/line_editor.hpp"
#include "exec/exec.hpp"
#include "main/completion.hpp"
#include "main/prompt.hpp"
#include "main/shell.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

std::optional<std::string> history_path() {
    const auto& home = platform::home_dir();
    if (!home) return std::nullopt;
    return platform::join_path(*home, ".kiln_history");
}

// Runs one typed line. True when the shell is to end.
bool run_line(ShellState& state, const std::string& line) {
    if (trim_unicode_space(line).empty()) return false;
    // A Ctrl-C pressed while the line was being read belongs to that read, not to this line.
    (void)platform::take_interrupt();
    run_source(state, line);
    const Request taken = finish_typed_line(state);
    // After the terminal's "^C", the next prompt starts a line of its own.
    if (taken == Request::Interrupt) (void)platform::write_stdout("\n");
    return taken == Request::Exit;
}

class Session {
public:
    explicit Session(ShellState& state)
        : state_(state),
          editor_(make_line_editor(EditorConfig{.completer = complete})),
          history_(history_path()) {
        editor_->attach(&hooks_);
        platform::catch_endings([this] { save_history(); });
        if (!history_) return;
        // Said once: the file is then left alone, never overwritten by this session.
        if (auto loaded = editor_->load_history(*history_); !loaded)
            platform::write_stderr("kiln: " + *history_ + ": " + loaded.error() + "\n");
    }
    ~Session() { platform::catch_endings({}); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads and runs lines until end of input, a read error, an exit request or an ending
    // (the terminal gone, SIGTERM), which saves the history and ends the process.
    int run() {
        platform::write_stdout(kBanner);
        while (true) {
            platform::end_if_asked();
            const Prompt prompt = build_prompt(prompt_directory(state_.cwd, platform::home_dir()),
                                               state_.last_status);
            hooks_.colored_prompt = prompt.colored;
            ReadResult read = editor_->read_line(prompt.plain);
            platform::end_if_asked();
            if (read.outcome == ReadOutcome::Interrupted) continue;
            if (read.outcome == ReadOutcome::EndOfInput) break;
            if (read.outcome == ReadOutcome::Error) {
                platform::write_stderr("kiln: " + read.text + "\n");
                break;
            }
            if (run_line(state_, read.text)) break;
        }
        save_history();
        return final_status(state_, state_.last_status);
    }

private:
    // A failed save says nothing: the lines wait in the record for the next try.
    void save_history() {
        if (history_) (void)editor_->save_history(*history_);
    }

    ShellState& state_;
    EditorHooks hooks_;
    std::unique_ptr<LineEditor> editor_;
    std::optional<std::string> history_;
};

}  // namespace

void run_startup_file(ShellState& state) {
    // Ctrl-C stops a running command line, never the interactive shell; nor does Ctrl-\ (SIGQUIT).
    platform::catch_interrupts();
    platform::catch_endings({});
    const auto& home = platform::home_dir();
    if (!home) return;
    const std::string path = platform::join_path(*home, ".kilnrc");
    const platform::FileKind kind = platform::file_kind(path);
    if (kind == platform::FileKind::Missing || kind == platform::FileKind::Directory) return;
    auto text = platform::read_file(path);
    if (!text || !is_valid_utf8(*text)) return;
    run_source(state, *text);
    finish_startup_file(state);
}

int interactive_loop(ShellState& state) {
    platform::catch_interrupts();
    Session session(state);
    return session.run();
}

}  // namespace kiln
