// Reading lines without an editor, for input that is not a terminal or console.
#include <string>

#include "editor/line_editor.hpp"
#include "platform/platform.hpp"

namespace kiln {

ReadResult read_plain_line() {
    auto line = platform::read_stdin_line();
    if (!line) return {ReadOutcome::Error, platform::describe(line.error())};
    if (!*line) return {ReadOutcome::EndOfInput, {}};
    std::string text = std::move(**line);
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    return {ReadOutcome::Line, std::move(text)};
}

}  // namespace kiln
