// The line editor on Windows: the project's own console editor, plain line reads otherwise.
#include <memory>
#include <string>
#include <vector>

#include "main/line_editor.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// Without a console: one line at a time, without a prompt and without history.
ReadResult read_plain_line() {
    auto line = platform::read_stdin_line();
    if (!line) return {ReadOutcome::Error, platform::describe(line.error())};
    if (!*line) return {ReadOutcome::EndOfInput, {}};
    std::string text = std::move(**line);
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    return {ReadOutcome::Line, std::move(text)};
}

class ConsoleEditor : public LineEditor {
public:
    explicit ConsoleEditor(const EditorConfig& config) : config_(config) {}

    void attach(EditorHooks* hooks) override { hooks_ = hooks; }

    Result<void, std::string> load_history(const std::string& path) override {
        auto entries = read_history_file(path, config_.history_limit);
        if (!entries) return fail(entries.error());
        history_ = std::move(*entries);
        added_ = false;
        return {};
    }

    Result<void, std::string> save_history(const std::string& path) override {
        if (!added_) return {};
        auto written = write_history_file(path, history_, config_.history_limit);
        if (!written) return written;
        added_ = false;
        return {};
    }

    ReadResult read_line(const std::string&) override { return read_plain_line(); }

private:
    EditorConfig config_;
    EditorHooks* hooks_ = nullptr;
    std::vector<std::string> history_;
    bool added_ = false;
};

}  // namespace

std::unique_ptr<LineEditor> make_line_editor(const EditorConfig& config) {
    return std::make_unique<ConsoleEditor>(config);
}

}  // namespace kiln
