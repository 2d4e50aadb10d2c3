// The first line is a pattern, the rest a subject: compile and match it, and expand it over
// a small fixed tree of files (relative patterns only, so that the walk stays in the tree).
#include "expand/pattern.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "expand/glob.hpp"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path root = fs::temp_directory_path() / "kiln-fuzz-pattern";
    fs::remove_all(root);
    for (const char* dir : {"a/b/c", "a/.d", "A", "é/\xff"})
        fs::create_directories(root / dir);
    for (const char* file : {"x.txt", ".hidden", "a/y.c", "a/b/z", "a/b/c/[x]", "é/\xff/*?"})
        std::ofstream(root / file).put('\n');
    fs::current_path(root);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t eol = std::min(input.find('\n'), input.size());
    const std::string_view text = input.substr(0, eol);
    auto pattern = kiln::Pattern::compile(text);
    if (!pattern) return 0;
    (void)pattern->matches(input.substr(std::min(eol + 1, input.size())));
    if (text.starts_with('/') || text.find("..") != std::string_view::npos) return 0;
    auto paths = kiln::glob_paths(text);
    // Sorted byte-wise, each once.
    if (!paths ||
        std::adjacent_find(paths->begin(), paths->end(), std::greater_equal<>()) != paths->end()) {
        std::abort();
    }
    return 0;
}
