// A history file of any bytes, loaded, added to and saved as a session does, then loaded
// again: the entries read back are those kept (the file's, then each added line unless empty
// or equal to the entry before it, the newest `limit` of them), each on one line of the saved
// file; a line end of a plain file (without the header, whose escapes may stand for one) is
// never part of an entry; and a file that could not be read is left as it was.
//
// Input: flags (the limit, 1 to 7 or the usual one; what lies at the path: a file, a link to a
// file, nothing, a directory, or rarely, as it is slow, a file with a line of megabytes
// after its first line); lines to add, each ended by a NUL, until an empty one; the file.
#include <algorithm>
#include <cstdint>
#include <fstream>

#include "check.hpp"
#include "editor/history.hpp"

namespace fs = std::filesystem;

namespace {

enum Kind { File, Link, Missing, Directory, Huge };

fs::path g_dir;

// Lays out what the path holds.
void make(Kind kind, const fs::path& path, std::string_view text) {
    const auto put = [](const fs::path& to, std::string_view bytes) {
        std::ofstream(to, std::ios::binary | std::ios::app) << bytes;
    };
    if (kind == Huge) {  // a line of NULs after the first line, as a hole
        const std::size_t first = std::min(text.find('\n'), text.size());
        put(path, std::string(text.substr(0, first)) + "\n");
        fs::resize_file(path, first + 1 + kiln::kHistoryReadLimit);
        put(path, text.substr(first));
    }
    if (kind == Link) fs::create_symlink("target", path);
    if (kind == Directory) fs::create_directory(path);
    if (kind == File || kind == Link) put(kind == Link ? g_dir / "target" : path, text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_dir = scratch_dir("kiln-fuzz-history");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::uint8_t flags = take_byte(in);
    const std::size_t limit = (flags & 7) != 0 ? flags & 7 : kiln::kHistoryLimit;
    const Kind kind = (flags >> 3) == 31 ? Huge : static_cast<Kind>((flags >> 3) % 4);
    std::vector<std::string> added;
    while (!in.empty() && in.front() != '\0')
        added.emplace_back(take_until(in, '\0'));
    take_byte(in);
    for (const auto& entry : fs::directory_iterator(g_dir))
        fs::remove_all(entry.path());

    const fs::path path = g_dir / "history";
    make(kind, path, in);
    kiln::HistoryRecord record;
    auto loaded = kiln::load_history_record(record, path.string(), limit);
    require(loaded.has_value() == (kind != Directory), "a file loads only when it can be read");
    for (const auto& line : added)
        kiln::record_history_line(record, line);
    require(kiln::save_history_record(record, path.string(), limit).has_value(), "the save fails");
    if (!loaded) {
        require(fs::is_directory(path) && fs::is_empty(path),
                "a file that could not be read was replaced");
        return 0;
    }
    require(loaded->size() <= limit, "more entries than the limit were loaded");
    require(in.starts_with("#V2") ||
                std::none_of(loaded->begin(), loaded->end(),
                             [](auto& e) { return e.find_first_of("\r\n") != std::string::npos; }),
            "an entry holds a line end of the file");

    std::vector<std::string> kept = std::move(*loaded);
    for (const auto& line : added) {
        if (kept.empty() || kept.back() != line) kept.push_back(line);
    }
    kept.erase(kept.begin(),
               kept.end() - static_cast<std::ptrdiff_t>(std::min(limit, kept.size())));
    if (added.empty()) return 0;  // nothing was saved
    require(kind != Link || fs::is_symlink(path), "the link was replaced, not the file it names");
    kiln::HistoryRecord again;
    require(*kiln::load_history_record(again, path.string(), limit) == kept,
            "the entries read back are not those kept");
    std::ifstream saved(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(saved), {}};
    require(
        text.find('\r') == std::string::npos &&
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == kept.size() + 1,
        "an entry is not one line of the saved file");
    return 0;
}
