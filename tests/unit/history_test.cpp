// The history file format and the duplicate rule, and how sessions share the file.
#include "editor/history.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace kiln {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HistoryFile, Format) {
    const Lines entries{"echo a\\b", "printf 'x\ny'", "C:\\n\\\\", "plain"};
    const std::string text = encode_history(entries, 100);
    EXPECT_EQ(text, "#V2\necho a\\\\b\nprintf 'x\\ny'\nC:\\\\n\\\\\\\\\nplain\n");
    EXPECT_EQ(decode_history(text, 100), entries);
    // No header: plain lines, backslashes kept; a lone backslash stays.
    EXPECT_EQ(decode_history("a\\nb\n\nc", 100), (Lines{"a\\nb", "c"}));
    EXPECT_EQ(decode_history("#V2\na\\tb\nc\\\n", 100), (Lines{"a\\tb", "c\\"}));
    // A carriage return ends a line too (CR LF from an editor); one in an entry is escaped.
    EXPECT_EQ(decode_history("#V2\r\na\\rb\r\nc\r", 100), (Lines{"a\rb", "c"}));
    EXPECT_EQ(decode_history("x\r\ny\rz", 100), (Lines{"x", "y", "z"}));
    EXPECT_EQ(encode_history({"a\rb"}, 100), "#V2\na\\rb\n");
}

TEST(HistoryFile, SessionsThatSaveTogether) {
    std::string dir = (fs::temp_directory_path() / "kiln-history-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const fs::path file = fs::path(dir) / "history";
    const std::string path = file.string();
    // Two sessions saving at once: every line of both, each session's in order.
    HistoryRecord one, two;
    ASSERT_TRUE(load_history_record(one, path, 100) && load_history_record(two, path, 100));
    const auto session = [&](HistoryRecord& record, const std::string& name) {
        for (int i = 0; i < 20; ++i) {
            record_history_line(record, name + std::to_string(i));
            EXPECT_TRUE(save_history_record(record, path, 100));
        }
    };
    std::thread other(session, std::ref(two), "two ");
    session(one, "one ");
    other.join();
    const Lines saved = decode_history(slurp(file), 100);
    for (const std::string name : {"one ", "two "}) {
        Lines own;
        std::copy_if(saved.begin(), saved.end(), std::back_inserter(own),
                     [&](const std::string& e) { return e.starts_with(name); });
        ASSERT_EQ(own.size(), 20u);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(own[i], name + std::to_string(i));
    }
    EXPECT_EQ(saved.size(), 40u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kiln
