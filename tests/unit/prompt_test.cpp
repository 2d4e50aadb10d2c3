// The prompt: its directory, shortened below the home directory, and its colours.
#include "main/prompt.hpp"

#include <gtest/gtest.h>

namespace kiln {
namespace {

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
