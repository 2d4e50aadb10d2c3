// The POSIX platform services: path syntax, environment refusal, files, and programs.
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace kiln::platform {
namespace {

namespace fs = std::filesystem;

TEST(PlatformPaths, NormalizeRemovesDotsLexically) {
    EXPECT_EQ(normalize_path("/x/a/./b/../c"), "/x/a/c");
    EXPECT_EQ(normalize_path("/.."), "/");
    EXPECT_EQ(normalize_path("/a/b/../../../.."), "/");
    EXPECT_EQ(normalize_path("//a//b/"), "/a/b");
    EXPECT_EQ(normalize_path("a/../.."), ".");
    EXPECT_EQ(normalize_path("a/./b"), "a/b");
}

TEST(PlatformPaths, JoinAndSplit) {
    EXPECT_EQ(join_path("/home/al", "src"), "/home/al/src");
    EXPECT_EQ(join_path("/", "src"), "/src");
    EXPECT_EQ(join_path("/home", "/etc"), "/etc");
    EXPECT_TRUE(is_absolute("/x"));
    EXPECT_FALSE(is_absolute("x/y"));
    EXPECT_EQ(split_path_list("/bin::/usr/bin"),
              (std::vector<std::string>{"/bin", "", "/usr/bin"}));
    EXPECT_EQ(split_path_list(""), (std::vector<std::string>{""}));
}

TEST(PlatformEnvironment, RefusesNamesTheSystemCannotHold) {
    EXPECT_FALSE(set_env("", "x").has_value());
    EXPECT_FALSE(set_env("a=b", "x").has_value());
    EXPECT_FALSE(set_env("A", std::string("x\0y", 3)).has_value());
    ASSERT_TRUE(set_env("KILN_TEST_VAR", "v=1").has_value());
    EXPECT_EQ(get_env("KILN_TEST_VAR"), "v=1");
    ASSERT_TRUE(unset_env("KILN_TEST_VAR").has_value());
    EXPECT_EQ(get_env("KILN_TEST_VAR"), std::nullopt);
}

class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kiln-platform-" + std::to_string(process_id()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "sub");
        std::ofstream(dir_ / "file") << "bytes\n";
        fs::create_symlink(dir_ / "sub", dir_ / "link");
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(PlatformFiles, MetadataFollowsLinksButListingMarksThem) {
    EXPECT_EQ(file_kind(path("file")), FileKind::Regular);
    EXPECT_EQ(file_kind(path("link")), FileKind::Directory);
    EXPECT_EQ(file_kind(path("nothing")), FileKind::Missing);
    auto entries = list_dir(dir_.string());
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 3u);
    for (const auto& e : *entries) {
        if (e.name == "link") {
            EXPECT_TRUE(e.is_link && !e.is_dir);
        } else if (e.name == "sub") {
            EXPECT_TRUE(e.is_dir);
        } else {
            EXPECT_EQ(e.size, 6u);
        }
    }
}

TEST_F(PlatformFiles, WriteTruncateAppendAndReadBack) {
    {
        auto h = open_for_write(path("out"), false);
        ASSERT_TRUE(h.has_value());
        ASSERT_TRUE(write_all(*h, "one\n").has_value());
    }
    {
        auto h = open_for_write(path("out"), true);
        ASSERT_TRUE(write_all(*h, "two\n").has_value());
    }
    EXPECT_EQ(*read_file(path("out")), "one\ntwo\n");
    auto missing = read_file(path("nothing"));
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(describe(missing.error()), "No such file or directory (os error 2)");
    EXPECT_FALSE(read_file(path("sub")).has_value());
}

// Bytes that show a lost, repeated or misplaced block: no period divides the sizes used.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 4099) % 251);
    return bytes;
}

TEST_F(PlatformFiles, ReadFileReturnsEveryByteAtSizesAroundItsBufferSteps) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{16383}, std::size_t{16384},
                                   std::size_t{(1u << 20) + 1}, std::size_t{(5u << 20) + 7}}) {
        const std::string bytes = patterned(size);
        {
            auto h = open_for_write(path("blob"), false);
            ASSERT_TRUE(h.has_value());
            ASSERT_TRUE(write_all(*h, bytes).has_value());
        }
        auto read = read_file(path("blob"));
        ASSERT_TRUE(read.has_value());
        EXPECT_TRUE(*read == bytes) << "size " << size;
    }
}

TEST_F(PlatformFiles, ReadAllAppendsALargePipedStreamAfterWhatTheBufferHolds) {
    const std::string bytes = patterned((9u << 20) + 12345);
    auto pipe = make_pipe();
    ASSERT_TRUE(pipe.has_value());
    std::thread writer([&] {
        (void)write_all(pipe->write, bytes);
        pipe->write.close();
    });
    std::string out = "head:";
    const auto result = read_all(pipe->read, out);
    writer.join();
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(out.size(), bytes.size() + 5);
    EXPECT_TRUE(out == "head:" + bytes);
}

TEST_F(PlatformFiles, ProgramsReportStatusSignalsAndFailures) {
    auto run = [](std::vector<std::string> args) {
        SpawnRequest req{"/bin/sh", std::move(args), "", {}, nullptr, nullptr, nullptr};
        auto child = spawn(req);
        EXPECT_TRUE(child.has_value());
        return *wait_child(*child);
    };
    EXPECT_EQ(run({"-c", "exit 3"}), 3);
    EXPECT_EQ(run({"-c", "kill -TERM $$"}), 128 + 15);

    auto missing = spawn({"kiln-no-such-program", {}, "", {}, nullptr, nullptr, nullptr});
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(missing.error().not_found);
    auto empty = spawn({"", {}, "", {}, nullptr, nullptr, nullptr});
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().text, "program path has no file name");
    auto not_exec = spawn({path("file"), {}, "", {}, nullptr, nullptr, nullptr});
    ASSERT_FALSE(not_exec.has_value());
    EXPECT_FALSE(not_exec.error().not_found);
}

TEST_F(PlatformFiles, PrefixPathIsSearchedFirstAndOutputIsPiped) {
    const std::string tool = path("sub") + "/kiln-tool";
    std::ofstream(tool) << "#!/bin/sh\necho \"from sub $KILN_X\"\n";
    fs::permissions(tool, fs::perms::owner_all);
    auto pipe = make_pipe();
    ASSERT_TRUE(pipe.has_value());
    SpawnRequest req{"kiln-tool", {},           "",     {{"PATH", path("sub")}, {"KILN_X", "1"}},
                     nullptr,     &pipe->write, nullptr};
    auto child = spawn(req);
    ASSERT_TRUE(child.has_value());
    pipe->write.close();
    std::string out;
    ASSERT_TRUE(read_all(pipe->read, out).has_value());
    EXPECT_EQ(*wait_child(*child), 0);
    EXPECT_EQ(out, "from sub 1\n");
    EXPECT_EQ(get_env("KILN_X"), std::nullopt);  // only the child saw it
}

}  // namespace
}  // namespace kiln::platform
