// The history file format: a "#V2" header, then one entry per line with backslash escapes.
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
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == 'n')) {
            out += line[++i] == 'n' ? '\n' : '\\';
        } else {
            out += line[i];
        }
    }
    return out;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
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
    const bool escaped =
        split_lines(text.substr(0, kHeader.size() + 1)) == std::vector<std::string_view>{kHeader};
    if (escaped) text.remove_prefix(std::min(text.size(), kHeader.size() + 1));
    return decode_lines(text, escaped, limit);
}

std::vector<std::string> decode_history(const platform::FileEnds& ends, std::size_t limit) {
    if (ends.whole) return decode_history(ends.tail, limit);
    const bool escaped = ends.head.starts_with(std::string(kHeader) + "\n");
    const std::size_t cut = ends.tail.find('\n');
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
