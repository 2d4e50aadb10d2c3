// Tab completion: command names for the first word of a line, file names elsewhere.
#pragma once

#include <cstddef>
#include <string_view>

#include "editor/line_editor.hpp"

namespace kiln {

// At most this many program names are gathered from PATH for one completion.
inline constexpr std::size_t kMaxProgramCandidates = 250;

// Completes the word that ends at byte offset `pos` of `line`. Never fails: a directory that
// cannot be listed only removes candidates. Candidates are sorted by display, by bytes.
Completion complete(std::string_view line, std::size_t pos);

// The file-name completer alone, as used after the first word of a line.
Completion complete_filename(std::string_view line, std::size_t pos);

}  // namespace kiln
