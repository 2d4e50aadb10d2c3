// Output matching with in-line wildcards, and a small longest-common-subsequence line diff.
#include "compare.hpp"

#include <vector>

namespace e2e {
namespace {

constexpr std::string_view kWildcard = "{*}";

// Splits after each newline, keeping it, so that a last line without one differs from the
// same line with one.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Wildcard match of one line; {*} matches any run of bytes other than a newline.
bool line_matches(std::string_view pattern, std::string_view text) {
    auto star = pattern.find(kWildcard);
    if (star == std::string_view::npos) return pattern == text;
    auto head = pattern.substr(0, star);
    if (!text.starts_with(head)) return false;
    auto rest = pattern.substr(star + kWildcard.size());
    for (std::size_t i = head.size(); i <= text.size(); ++i) {
        if (i > head.size() && text[i - 1] == '\n') break;  // {*} stays within its line
        if (line_matches(rest, text.substr(i))) return true;
    }
    return false;
}

void replace_all(std::string& text, std::string_view from, const std::string& to) {
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string escape_byte(unsigned char c) {
    static const char* digits = "0123456789abcdef";
    return std::string("\\x") + digits[c >> 4] + digits[c & 15];
}

// One line for display: control bytes escaped, trailing blanks made visible.
std::string visible_line(const std::string& line) {
    std::string out;
    std::size_t end = line.find_last_not_of(" \t");
    end = end == std::string::npos ? 0 : end + 1;
    for (std::size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '\t' && i < end)
            out += '\t';
        else if (c == '\t')
            out += "\\t";
        else if (c == ' ' && i >= end)
            out += "\\x20";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c == 0x7f)
            out += escape_byte(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

std::string substitute(const std::string& text, const Placeholders& values) {
    std::string out = text;
    replace_all(out, "{tmp}", values.tmp);
    replace_all(out, "{home}", values.home);
    replace_all(out, "{/}", values.separator);
    return out;
}

bool output_matches(const std::string& expected, const std::string& actual) {
    if (expected.find(kWildcard) == std::string::npos) return expected == actual;
    auto want = split_lines(expected);
    auto got = split_lines(actual);
    if (want.size() != got.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!line_matches(want[i], got[i])) return false;
    return true;
}

std::string visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c == 0x7f || c == '\\')
            out += c == '\\' ? std::string("\\\\") : escape_byte(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string render_diff(const std::string& expected, const std::string& actual,
                        const std::string& indent) {
    auto a = split_lines(expected);
    auto b = split_lines(actual);
    auto label = [](const std::vector<std::string>& lines, std::size_t i) {
        const std::string& line = lines[i];
        if (line.ends_with('\n')) return visible_line(line.substr(0, line.size() - 1));
        return visible_line(line) + "   (no newline at end)";
    };
    std::string out;
    const std::size_t n = a.size(), m = b.size();
    if (n * m > 4'000'000) {  // too big for the table: show both whole
        for (std::size_t i = 0; i < n; ++i)
            out += indent + "-" + label(a, i) + "\n";
        for (std::size_t j = 0; j < m; ++j)
            out += indent + "+" + label(b, j) + "\n";
        return out;
    }
    std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            lcs[i][j] = line_matches(a[i], b[j]) ? lcs[i + 1][j + 1] + 1
                                                 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::size_t i = 0, j = 0;
    // Long outputs are cut after a screenful of differing lines.
    constexpr int kMaxChanged = 40;
    int changed = 0;
    auto emit = [&](char mark, const std::vector<std::string>& lines, std::size_t k) {
        if (mark != ' ' && ++changed > kMaxChanged) return;
        out += indent + mark + label(lines, k) + "\n";
    };
    while (i < n || j < m) {
        if (i < n && j < m && line_matches(a[i], b[j])) {
            emit(' ', b, j);
            ++i, ++j;
        } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
            emit('-', a, i++);
        } else {
            emit('+', b, j++);
        }
    }
    if (changed > kMaxChanged)
        out += indent + "... " + std::to_string(changed - kMaxChanged) + " more changed lines\n";
    return out;
}

}  // namespace e2e
