// The history file shared by the line editors: "#V2", then one escaped entry per line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace kiln {

// The most entries the editor keeps and the file holds.
inline constexpr std::size_t kHistoryLimit = 100;

// The file text for `entries`: a backslash is written as two backslashes and a line feed as
// a backslash and "n", so that every entry stays on one line. Only the last `limit` entries.
std::string encode_history(const std::vector<std::string>& entries, std::size_t limit);

// The entries of a history file, oldest first, at most the last `limit`. A file without the
// "#V2" header is read as plain lines; empty lines are skipped.
std::vector<std::string> decode_history(std::string_view text, std::size_t limit);

// A line is added unless it is empty or equal to the most recent entry.
bool history_accepts(std::string_view line, const std::vector<std::string>& entries);

// Reading and writing the file; the error is a one-line description.
Result<std::vector<std::string>, std::string> read_history_file(const std::string& path,
                                                                std::size_t limit);
Result<void, std::string> write_history_file(const std::string& path,
                                             const std::vector<std::string>& entries,
                                             std::size_t limit);

}  // namespace kiln
