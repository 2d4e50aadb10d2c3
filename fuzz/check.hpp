// What the targets that check invariants share: a finding, reading the input's parts, and a
// directory for their files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

// A finding: the invariant that did not hold, then the abort that libFuzzer reports.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// The next byte of the input (0 at its end), and the bytes up to the next `end` (or to the
// input's end), which is taken too.
inline std::uint8_t take_byte(std::string_view& in) {
    const auto b = static_cast<std::uint8_t>(in.empty() ? 0 : in.front());
    in.remove_prefix(in.empty() ? 0 : 1);
    return b;
}
inline std::string_view take_until(std::string_view& in, char end) {
    const std::string_view part = in.substr(0, in.find(end));
    in.remove_prefix(std::min(part.size() + 1, in.size()));
    return part;
}

// An empty directory of the target's own, in memory where there is one (a save syncs its file).
inline std::filesystem::path scratch_dir(const char* name) {
    namespace fs = std::filesystem;
    const fs::path dir =
        (fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}
