// The history file shared by the line editors and by sessions: "#V2", then one escaped
// entry per line.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "platform/platform.hpp"

namespace kiln {

// The most entries the editor keeps and the file holds.
inline constexpr std::size_t kHistoryLimit = 100;

// The file text for `entries`: a backslash is written as two backslashes, a line feed as a
// backslash and "n" and a carriage return as a backslash and "r", so that every entry stays on
// one line. Only the last `limit` entries.
std::string encode_history(const std::vector<std::string>& entries, std::size_t limit);

// The entries of a history file, oldest first, at most the last `limit`. Lines end at a line
// feed or a carriage return (CR LF too); a file without the "#V2" header is read as plain
// lines; empty lines are skipped.
std::vector<std::string> decode_history(std::string_view text, std::size_t limit);

// A line is added unless it is empty or equal to the most recent entry.
bool history_accepts(std::string_view line, const std::vector<std::string>& entries);

// At most this many bytes are read from the end of a history file: the newest entries of any
// file the shell writes, without reading the whole of a huge one.
inline constexpr std::size_t kHistoryReadLimit = std::size_t{4} << 20;

// The entries of a file read by its ends (platform::read_file_ends): when the tail is not the
// whole file, the head tells the format and the tail's first, partial line is left out.
std::vector<std::string> decode_history(const platform::FileEnds& ends, std::size_t limit);

// A session's share of its history file. The file belongs to every session that uses it: a
// session adds its own lines to the file as the file is when it saves, after the entries that
// other sessions saved meanwhile. A save may come from a console control handler's thread
// while the main thread adds lines, hence the lock.
struct HistoryRecord {
    bool writable = false;             // the file was read, or was missing, when loaded
    std::vector<std::string> unsaved;  // lines added since the last save, oldest first
    std::mutex lock;
};

// The newest entries of the file, for a session's start. A missing file has none. A file that
// exists but cannot be read fails with a one-line description; the record then stays
// unwritable, so that the file is never overwritten.
Result<std::vector<std::string>, std::string> load_history_record(HistoryRecord& record,
                                                                  const std::string& path,
                                                                  std::size_t limit);
// A line that the editor has added to its history.
void record_history_line(HistoryRecord& record, std::string line);
// Adds the unsaved lines to the file as it is now, keeping its newest `limit` entries, by
// platform::update_file (a new file renamed over the old). Nothing is written when no line
// waits or the file could not be loaded. On a failure the lines wait for the next save.
Result<void, std::string> save_history_record(HistoryRecord& record, const std::string& path,
                                              std::size_t limit);

}  // namespace kiln
