// File-name completion in a scratch directory that holds the input's names, and what the
// editor makes of the candidates. The word starts at or before the cursor, on a character's
// start; the candidates are names, each once, sorted, all of them for an empty word;
// completing again right after a file's candidate offers that file again, which holds only
// when a name with a break character got its opening double quote and the characters special
// in it an escape.
// The common prefix starts every replacement and is the longest that ends on a character's
// boundary; the listing shows each name once at its cell, down the columns and then across,
// and its rows fit the width unless a row holds a single name.
//
// Input: the width; the typed line up to a NUL; names, each ended by a NUL (one ending with "/"
// is a directory). Lines that could reach outside the scratch directory are left alone.
#include "main/completion.hpp"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <set>

#include "check.hpp"
#include "common/text.hpp"
#include "editor/completion_listing.hpp"
#include "editor/display_width.hpp"
#include "editor/line_render.hpp"
#include "platform/platform.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBreakChars{"\0\t\n \"$&'(;<=>@`{|", 17};

fs::path g_dir;

// A ".." or a path from the root.
bool reaches_out(std::string_view typed) {
    const auto from_root = [](char before, char c) {
        return c == '/' && kBreakChars.find(before) != std::string_view::npos;
    };
    return typed.starts_with('/') || typed.find("..") != std::string_view::npos ||
           std::adjacent_find(typed.begin(), typed.end(), from_root) != typed.end();
}

void check_prefix(const std::vector<std::string>& texts) {
    const auto all_start = [&](std::string_view p) {
        return std::all_of(texts.begin(), texts.end(), [&](auto& t) { return t.starts_with(p); });
    };
    const std::string prefix = kiln::common_prefix(texts);
    require(all_start(prefix), "the common prefix does not start every candidate");
    const std::size_t next = kiln::decode_utf8(texts.front(), prefix.size()).len;
    require(prefix.size() == texts.front().size() ||
                !all_start(texts.front().substr(0, prefix.size() + next)),
            "the common prefix is not the longest");
}

// Name i is in row i % rows, at column i / rows of cells as wide as the widest name and two
// blanks, followed by blanks to the next cell or by the row's end.
void check_listing(const std::vector<std::string>& names, std::size_t width) {
    const std::vector<std::string> rows = kiln::listing_rows(names, width);
    std::vector<std::string> shown;
    std::size_t cell = 2;
    for (const auto& name : names)
        cell = std::max(cell, kiln::text_columns(shown.emplace_back(kiln::visible_text(name))) + 2);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string_view row = rows[i % rows.size()];
        std::size_t at = 0, col = 0;  // up to the cell's column
        for (; col < i / rows.size() * cell && at < row.size();
             at += kiln::decode_utf8(row, at).len)
            col += static_cast<std::size_t>(kiln::char_columns(kiln::decode_utf8(row, at).cp));
        require(col == i / rows.size() * cell && row.substr(at).starts_with(shown[i]),
                "a name is not at its cell");
        const bool last = i + rows.size() >= names.size();
        const std::string_view after = row.substr(at + shown[i].size());
        const std::size_t pad = cell - kiln::text_columns(shown[i]);
        require(last ? after.empty() : after.substr(0, pad) == std::string(pad, ' '),
                "a cell holds more than its name");
        require(kiln::text_columns(row) < width || (last && i < rows.size()), "a row is too wide");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    g_dir = scratch_dir("kiln-fuzz-completion");
    fs::current_path(g_dir);
    ::setenv("HOME", g_dir.c_str(), 1);
    kiln::platform::init(*argc, *argv);  // which reads the home directory
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t width = 1 + take_byte(in) % 160u;
    const std::string typed(take_until(in, '\0'));
    if (reaches_out(typed)) return 0;
    for (const auto& entry : fs::directory_iterator(g_dir))
        fs::remove_all(entry.path());
    std::set<std::string> names;
    while (!in.empty()) {
        std::string name(take_until(in, '\0'));
        const bool dir = name.ends_with('/');
        if (dir) name.pop_back();
        if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
            name.find('/') != std::string::npos || !names.insert(name).second) {
            continue;
        }
        if (dir) fs::create_directory(g_dir / name);
        if (!dir) std::ofstream(g_dir / name).put('x');
    }

    const kiln::Completion c = kiln::complete_filename(typed, typed.size());
    require(c.start <= typed.size() && (!kiln::is_valid_utf8(typed) || c.start == typed.size() ||
                                        (typed[c.start] & 0xC0) != 0x80),
            "the word does not start on a character before the cursor");
    std::set<std::string> offered;
    std::vector<std::string> displays, replacements;
    for (const auto& cand : c.candidates) {
        require(names.contains(cand.display) && offered.insert(cand.display).second,
                "a candidate is not a name, or comes twice");
        displays.push_back(cand.display);
        replacements.push_back(cand.replacement);
        if (cand.replacement.ends_with('/')) continue;
        const std::string again = typed.substr(0, c.start) + cand.replacement;
        const auto more = kiln::complete_filename(again, again.size()).candidates;
        require(std::any_of(more.begin(), more.end(),
                            [&](auto& m) { return m.display == cand.display; }),
                "completing again after a candidate does not offer it");
    }
    if (typed.empty() || (typed.find('"') == std::string::npos &&
                          kBreakChars.find(typed.back()) != std::string::npos)) {
        require(offered.size() == static_cast<std::size_t>(std::count_if(names.begin(), names.end(),
                                                                         kiln::is_valid_utf8)),
                "a name was not offered for an empty word");
    }
    if (c.candidates.empty()) return 0;
    require(std::is_sorted(displays.begin(), displays.end()), "the candidates are not sorted");
    check_prefix(replacements);
    check_listing(displays, width);
    return 0;
}
