// The history file format and the duplicate rule; the prompt's directory and colours.
#include "editor/history.hpp"

#include <gtest/gtest.h>

#include "main/prompt.hpp"

namespace kiln {
namespace {

TEST(HistoryFile, EscapesBackslashesAndLineFeedsAndReadsThemBack) {
    const std::vector<std::string> entries{"echo a\\b", "printf 'x\ny'", "C:\\n\\\\", "plain"};
    const std::string text = encode_history(entries, 100);
    EXPECT_EQ(text, "#V2\necho a\\\\b\nprintf 'x\\ny'\nC:\\\\n\\\\\\\\\nplain\n");
    EXPECT_EQ(decode_history(text, 100), entries);
}

TEST(HistoryFile, KeepsOnlyTheNewestEntries) {
    std::vector<std::string> entries;
    for (int i = 0; i < 120; ++i)
        entries.push_back("echo " + std::to_string(i));
    const std::string text = encode_history(entries, 100);
    const auto back = decode_history(text, 100);
    ASSERT_EQ(back.size(), 100u);
    EXPECT_EQ(back.front(), "echo 20");
    EXPECT_EQ(back.back(), "echo 119");
    EXPECT_EQ(decode_history(text, 3),
              (std::vector<std::string>{"echo 117", "echo 118", "echo 119"}));
}

TEST(HistoryFile, ToleratesOddFiles) {
    // No header: plain lines, backslashes kept.
    EXPECT_EQ(decode_history("a\\nb\n\nc", 100), (std::vector<std::string>{"a\\nb", "c"}));
    // A lone backslash before another character or at the end stays.
    EXPECT_EQ(decode_history("#V2\na\\tb\nc\\\n", 100), (std::vector<std::string>{"a\\tb", "c\\"}));
    EXPECT_TRUE(decode_history("", 100).empty());
    EXPECT_TRUE(decode_history("#V2\n", 100).empty());
}

TEST(HistoryFile, DuplicateRuleLooksAtTheMostRecentEntryOnly) {
    const std::vector<std::string> entries{"ls", "pwd"};
    EXPECT_FALSE(history_accepts("pwd", entries));
    EXPECT_TRUE(history_accepts("ls", entries));
    EXPECT_TRUE(history_accepts(" pwd", entries));
    EXPECT_FALSE(history_accepts("", entries));
    EXPECT_TRUE(history_accepts("pwd", {}));
}

TEST(Prompt, DirectoryIsShortenedByAPlainBytePrefix) {
    const std::optional<std::string> home = "/home/al";
    EXPECT_EQ(prompt_directory("/home/al", home), "~");
    EXPECT_EQ(prompt_directory("/home/al/src", home), "~/src");
    EXPECT_EQ(prompt_directory("/home/alice", home), "~ice");
    EXPECT_EQ(prompt_directory("/HOME/al", home), "/HOME/al");
    EXPECT_EQ(prompt_directory("/tmp", std::nullopt), "/tmp");
    EXPECT_EQ(prompt_directory("/tmp/\xff", home), "/tmp/\xEF\xBF\xBD");
}

TEST(Prompt, SymbolAndColourFollowTheLastStatus) {
    const Prompt ok = build_prompt("~", 0);
    EXPECT_EQ(ok.plain, "kiln ~ $ ");
    EXPECT_EQ(ok.colored, "\x1b[1;36mkiln\x1b[0m \x1b[33m~\x1b[0m \x1b[32m$\x1b[0m ");
    const Prompt failed = build_prompt("/tmp", -1);
    EXPECT_EQ(failed.plain, "kiln /tmp ! ");
    EXPECT_EQ(failed.colored, "\x1b[1;36mkiln\x1b[0m \x1b[33m/tmp\x1b[0m \x1b[31m!\x1b[0m ");
}

}  // namespace
}  // namespace kiln
