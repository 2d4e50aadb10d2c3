// The history file format: a "#V2" header, then one entry per line with backslash escapes.
// A line ends at a line feed or a carriage return, so that a file saved with CR LF line ends
// (by an editor on Windows) reads as the same entries.
#include "editor/history.hpp"

#include <algorithm>

#include "platform/platform.hpp"

namespace kiln {
namespace {

constexpr std::string_view kHeader = "#V2";

std::string escape_entry(std::string_view entry) {
    std::string out;
    for (char c : entry) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

// Undoes escape_entry; a backslash before anything else (or at the end) stays as it is.
std::string unescape_entry(std::string_view line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (line[i] == '\\' && (next == '\\' || next == 'n' || next == 'r')) {
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
            ++i;
        } else {
            out += line[i];
        }
    }
    return out;
}

// The lines, each without its line end. Each kind of line end is looked for once from where
// the last one was found, so that a line of megabytes costs one pass.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t lf = text.find('\n'), cr = text.find('\r');
    for (std::size_t start = 0; start < text.size();) {
        if (lf < start) lf = text.find('\n', start);
        if (cr < start) cr = text.find('\r', start);
        const std::size_t end = std::min({lf, cr, text.size()});
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool has_header(std::string_view text) {
    return split_lines(text.substr(0, kHeader.size() + 1)) ==
           std::vector<std::string_view>{kHeader};
}

// The entries of the lines, at most the last `limit`; empty lines are skipped.
std::vector<std::string> decode_lines(std::string_view text, bool escaped, std::size_t limit) {
    std::vector<std::string_view> lines = split_lines(text);
    std::erase_if(lines, [](std::string_view line) { return line.empty(); });
    const std::size_t first = lines.size() > limit ? lines.size() - limit : 0;
    std::vector<std::string> entries;
    for (std::size_t i = first; i < lines.size(); ++i)
        entries.push_back(escaped ? unescape_entry(lines[i]) : std::string(lines[i]));
    return entries;
}

}  // namespace

std::string encode_history(const std::vector<std::string>& entries, std::size_t limit) {
    std::string out(kHeader);
    out += '\n';
    const std::size_t first = entries.size() > limit ? entries.size() - limit : 0;
    for (std::size_t i = first; i < entries.size(); ++i) {
        out += escape_entry(entries[i]);
        out += '\n';
    }
    return out;
}

std::vector<std::string> decode_history(std::string_view text, std::size_t limit) {
    const bool escaped = has_header(text);
    if (escaped) text.remove_prefix(std::min(text.size(), kHeader.size() + 1));
    return decode_lines(text, escaped, limit);
}

std::vector<std::string> decode_history(const platform::FileEnds& ends, std::size_t limit) {
    if (ends.whole) return decode_history(ends.tail, limit);
    const bool escaped = has_header(ends.head);
    const std::size_t cut = std::min(ends.tail.find('\n'), ends.tail.find('\r'));
    if (cut == std::string::npos) return {};
    return decode_lines(std::string_view(ends.tail).substr(cut + 1), escaped, limit);
}

bool history_accepts(std::string_view line, const std::vector<std::string>& entries) {
    return !line.empty() && (entries.empty() || entries.back() != line);
}

Result<std::vector<std::string>, std::string> load_history_record(HistoryRecord& record,
                                                                  const std::string& path,
                                                                  std::size_t limit) {
    auto ends = platform::read_file_ends(path, kHeader.size() + 1, kHistoryReadLimit);
    const std::lock_guard<std::mutex> hold(record.lock);
    record.writable = ends.has_value();
    if (!ends) return fail(platform::describe(ends.error()));
    if (!*ends) return std::vector<std::string>{};
    return decode_history(**ends, limit);
}

void record_history_line(HistoryRecord& record, std::string line) {
    const std::lock_guard<std::mutex> hold(record.lock);
    record.unsaved.push_back(std::move(line));
}

Result<void, std::string> save_history_record(HistoryRecord& record, const std::string& path,
                                              std::size_t limit) {
    const std::lock_guard<std::mutex> hold(record.lock);
    if (!record.writable || record.unsaved.empty()) return {};
    auto updated = platform::update_file(
        path, kHeader.size() + 1, kHistoryReadLimit, [&](const platform::FileEnds& ends) {
            std::vector<std::string> entries = decode_history(ends, limit);
            for (auto& line : record.unsaved) {
                if (history_accepts(line, entries)) entries.push_back(line);
            }
            return encode_history(entries, limit);
        });
    if (!updated) return fail(platform::describe(updated.error()));
    record.unsaved.clear();
    return {};
}

}  // namespace kiln
