// The history file format and the duplicate rule; the prompt's directory and colours.
#include "editor/history.hpp"

#include <gtest/gtest.h>

#include "main/prompt.hpp"

namespace kiln {
namespace {

using Lines = std::vector<std::string>;

TEST(HistoryFile, FormatLimitAndDuplicates) {
    const Lines entries{"echo a\\b", "printf 'x\ny'", "C:\\n\\\\", "plain"};
    const std::string text = encode_history(entries, 100);
    EXPECT_EQ(text, "#V2\necho a\\\\b\nprintf 'x\\ny'\nC:\\\\n\\\\\\\\\nplain\n");
    EXPECT_EQ(decode_history(text, 100), entries);
    EXPECT_EQ(encode_history(entries, 2), "#V2\nC:\\\\n\\\\\\\\\nplain\n");  // the newest only
    EXPECT_EQ(decode_history(text, 1), Lines{"plain"});
    // No header: plain lines, backslashes kept; a lone backslash stays.
    EXPECT_EQ(decode_history("a\\nb\n\nc", 100), (Lines{"a\\nb", "c"}));
    EXPECT_EQ(decode_history("#V2\na\\tb\nc\\\n", 100), (Lines{"a\\tb", "c\\"}));
    EXPECT_TRUE(decode_history("#V2\n", 100).empty());
    // Only the most recent entry counts as a duplicate.
    EXPECT_FALSE(history_accepts("pwd", {"ls", "pwd"}));
    EXPECT_TRUE(history_accepts("ls", {"ls", "pwd"}));
    EXPECT_TRUE(history_accepts(" pwd", {"ls", "pwd"}));
    EXPECT_FALSE(history_accepts("", {}));
}

TEST(Prompt, DirectoryAndStatus) {
    const std::optional<std::string> home = "/home/al";
    EXPECT_EQ(prompt_directory("/home/al", home), "~");
    EXPECT_EQ(prompt_directory("/home/al/src", home), "~/src");
    EXPECT_EQ(prompt_directory("/home/alice", home), "~ice");  // a plain byte prefix
    EXPECT_EQ(prompt_directory("/HOME/al", home), "/HOME/al");
    EXPECT_EQ(prompt_directory("/tmp/\xff", std::nullopt), "/tmp/\xEF\xBF\xBD");
    EXPECT_EQ(build_prompt("~", 0).plain, "kiln ~ $ ");
    EXPECT_EQ(build_prompt("~", 0).colored,
              "\x1b[1;36mkiln\x1b[0m \x1b[33m~\x1b[0m \x1b[32m$\x1b[0m ");
    EXPECT_EQ(build_prompt("/t", -1).colored,
              "\x1b[1;36mkiln\x1b[0m \x1b[33m/t\x1b[0m \x1b[31m!\x1b[0m ");
    EXPECT_EQ(build_prompt("/t", 2).plain, "kiln /t ! ");
}

}  // namespace
}  // namespace kiln
