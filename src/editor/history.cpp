// The history file format: a "#V2" header, then one entry per line with backslash escapes.
#include "editor/history.hpp"

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
    std::vector<std::string_view> lines = split_lines(text);
    const bool escaped = !lines.empty() && lines.front() == kHeader;
    std::vector<std::string> entries;
    for (std::size_t i = escaped ? 1 : 0; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        entries.push_back(escaped ? unescape_entry(lines[i]) : std::string(lines[i]));
    }
    if (entries.size() > limit)
        entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(limit));
    return entries;
}

bool history_accepts(std::string_view line, const std::vector<std::string>& entries) {
    return !line.empty() && (entries.empty() || entries.back() != line);
}

Result<std::vector<std::string>, std::string> read_history_file(const std::string& path,
                                                                std::size_t limit) {
    auto text = platform::read_file(path);
    if (!text) return fail(platform::describe(text.error()));
    return decode_history(*text, limit);
}

Result<void, std::string> write_history_file(const std::string& path,
                                             const std::vector<std::string>& entries,
                                             std::size_t limit) {
    auto file = platform::open_for_write(path, false);
    if (!file) return fail(platform::describe(file.error()));
    auto written = platform::write_all(*file, encode_history(entries, limit));
    if (!written) return fail(platform::describe(written.error()));
    return {};
}

}  // namespace kiln
