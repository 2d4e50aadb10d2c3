// Tab completion: command names for the first word of a line, file names elsewhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiln {

struct Candidate {
    std::string display;      // shown when the candidates are listed
    std::string replacement;  // replaces the text from the start offset to the cursor
};

struct Completion {
    std::size_t start = 0;  // byte offset where the replaced text begins; never past the cursor
    std::vector<Candidate> candidates;
};

// At most this many program names are gathered from PATH for one completion.
inline constexpr std::size_t kMaxProgramCandidates = 250;

// Completes the word that ends at byte offset `pos` of `line`. Never fails: a directory that
// cannot be listed only removes candidates. Candidates are sorted by display, by bytes.
Completion complete(std::string_view line, std::size_t pos);

// The file-name completer alone, as used after the first word of a line.
Completion complete_filename(std::string_view line, std::size_t pos);

}  // namespace kiln
