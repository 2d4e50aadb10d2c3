// Output matching with in-line wildcards, and a compact line diff for failure reports.
#include "compare.hpp"

#include <string_view>
#include <vector>

namespace e2e {
namespace {

constexpr std::string_view kWildcard = "{*}";

// Splits after each line feed, keeping it, so that a last line without one differs from the
// same line with one.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto nl = text.find('\n', start);
        const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Matches one line; {*} matches any run of bytes but a line feed.
bool line_matches(std::string_view pattern, std::string_view text) {
    const auto star = pattern.find(kWildcard);
    if (star == std::string_view::npos) return pattern == text;
    if (!text.starts_with(pattern.substr(0, star))) return false;
    const auto rest = pattern.substr(star + kWildcard.size());
    for (std::size_t i = star; i <= text.size(); ++i) {
        if (line_matches(rest, text.substr(i))) return true;
        if (i < text.size() && text[i] == '\n') break;
    }
    return false;
}

// One line for display: control bytes and trailing blanks escaped, a missing line feed noted.
std::string visible(std::string_view line) {
    const bool eol = line.ends_with('\n');
    if (eol) line.remove_suffix(1);
    const std::size_t end = line.find_last_not_of(" \t") + 1;
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\\')
            out += "\\\\";
        else if (c == ' ' && i >= end)
            out += "\\x20";
        else if ((c < 0x20 && (c != '\t' || i >= end)) || c == 0x7f)
            out += std::string("\\x") + "0123456789abcdef"[c >> 4] + "0123456789abcdef"[c & 15];
        else
            out += static_cast<char>(c);
    }
    return eol ? out : out + "   (no line feed at the end)";
}

}  // namespace

std::string substitute(std::string text, const Placeholders& values) {
    for (const auto& [from, to] :
         {std::pair<std::string_view, const std::string&>{"{tmp}", values.tmp},
          {"{home}", values.home},
          {"{/}", values.separator}}) {
        for (auto pos = text.find(from); pos != std::string::npos;
             pos = text.find(from, pos + to.size()))
            text.replace(pos, from.size(), to);
    }
    return text;
}

bool output_matches(const std::string& expected, const std::string& actual) {
    if (expected.find(kWildcard) == std::string::npos) return expected == actual;
    const auto want = split_lines(expected), got = split_lines(actual);
    if (want.size() != got.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!line_matches(want[i], got[i])) return false;
    return true;
}

std::string render_diff(const std::string& expected, const std::string& actual) {
    const auto a = split_lines(expected), b = split_lines(actual);
    std::size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && line_matches(a[head], b[head]))
        ++head;
    while (tail < a.size() - head && tail < b.size() - head &&
           line_matches(a[a.size() - 1 - tail], b[b.size() - 1 - tail]))
        ++tail;
    std::string out;
    auto show = [&](char mark, const std::vector<std::string>& lines, std::size_t from,
                    std::size_t to) {
        for (std::size_t i = from; i < to && i < from + 40; ++i)
            out += std::string("    ") + mark + visible(lines[i]) + "\n";
        if (to > from + 40) out += "    ... " + std::to_string(to - from - 40) + " more lines\n";
    };
    show(' ', b, 0, head);
    show('-', a, head, a.size() - tail);
    show('+', b, head, b.size() - tail);
    show(' ', b, b.size() - tail, b.size());
    return out;
}

}  // namespace e2e
