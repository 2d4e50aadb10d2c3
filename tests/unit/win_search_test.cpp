// How Windows programs are found: the search that starts one, the search that `which`
// reports, and the program path however the environment block spells its name.
#include "platform/win_search.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace kiln::platform::win {
namespace {

using List = std::vector<std::string>;
const List kExts = {".EXE", ".BAT", ".CMD"};

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The files present, named without regard to letter case as Windows names them.
FileTest files(std::initializer_list<std::string> names) {
    std::set<std::string> present;
    for (const auto& name : names)
        present.insert(lower(name));
    return [present](const std::string& path) { return present.contains(lower(path)); };
}

// A .exe anywhere comes first, as it always has; only then the other extensions, each place
// with each extension in turn. A name with a dot is never extended; an empty place (the current
// directory) is never searched.
TEST(WinSearch, Run) {
    const List places = {"", "A", "B"};
    const auto both =
        files({"tool.exe", "A\\tool.cmd", "A\\tool.bat", "B\\tool.exe", "B\\x.v2.exe"});
    EXPECT_EQ(search_to_run("tool", places, kExts, both), "B\\tool.exe");
    const auto scripts = files({"A\\tool.cmd", "B\\tool.bat", "A\\tool"});
    EXPECT_EQ(search_to_run("tool", places, kExts, scripts), "A\\tool.CMD");
    EXPECT_EQ(search_to_run("tool", places, {".COM", ""}, scripts), "A\\tool");
    EXPECT_EQ(search_to_run("tool.bat", places, kExts, scripts), "B\\tool.bat");
    EXPECT_EQ(search_to_run("x.v2", places, kExts, both), std::nullopt);
}

// A name that already ends in an extension is tried as it is first, in each directory; an empty
// piece of PATHEXT is not an extension but the plain name in its turn.
TEST(WinSearch, Report) {
    const auto present = files({"A\\cmd.exe", "A\\cmd.exe.exe", "A\\cmd.exe.com", "B\\tool.cmd",
                                "B\\tool.exe", "A\\x.v2.exe"});
    EXPECT_EQ(search_to_report("cmd.exe", {"A"}, kExts, present), "A\\cmd.exe");
    EXPECT_EQ(search_to_report("cmd.exe", {"A"}, {".COM", ""}, present), "A\\cmd.exe.COM");
    EXPECT_EQ(search_to_report("cmd.exe", {"A"}, {".BAT"}, present), std::nullopt);
    EXPECT_EQ(search_to_report("tool", {"A", "B"}, {".CMD", ".EXE"}, present), "B\\tool.CMD");
    EXPECT_EQ(search_to_report("x.v2", {"A"}, kExts, present), "A\\x.v2.EXE");
}

// Windows spells it "Path": the shell's PATH is that variable too; an exact PATH stays alone.
TEST(WinSearch, PathVariable) {
    using Vars = Variables;
    EXPECT_EQ(with_path_variable({{"A", "1"}, {"Path", "C:\\w"}, {"pATH", "x"}}),
              (Vars{{"A", "1"}, {"Path", "C:\\w"}, {"pATH", "x"}, {"PATH", "C:\\w"}}));
    EXPECT_EQ(with_path_variable({{"Path", "a"}, {"PATH", "b"}}),
              (Vars{{"Path", "a"}, {"PATH", "b"}}));
    EXPECT_EQ(with_path_variable({{"PATHEXT", ".X"}}), (Vars{{"PATHEXT", ".X"}}));
}

}  // namespace
}  // namespace kiln::platform::win
