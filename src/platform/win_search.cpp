// The Windows program searches and the program path's name.
#include "platform/win_search.hpp"

#include <algorithm>

#include "platform/win_text.hpp"

namespace kiln::platform::win {

namespace {

// The first of `files` that is in a directory, taking each directory in turn.
std::optional<std::string> first_file(const std::vector<std::string>& dirs,
                                      const std::vector<std::string>& files,
                                      const FileTest& is_file) {
    for (const auto& dir : dirs) {
        if (dir.empty()) continue;
        for (const auto& file : files) {
            std::string candidate = join_path(dir, file);
            if (is_file(candidate)) return candidate;
        }
    }
    return std::nullopt;
}

std::vector<std::string> with_each(std::string_view name,
                                   const std::vector<std::string>& extensions) {
    std::vector<std::string> files;
    for (const auto& ext : extensions)
        files.push_back(std::string(name) + ext);
    return files;
}

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ends_with_nocase(a, b);
}

}  // namespace

std::optional<std::string> search_to_run(std::string_view name,
                                         const std::vector<std::string>& places,
                                         const std::vector<std::string>& extensions,
                                         const FileTest& is_file) {
    const bool dotless = name.find('.') == std::string_view::npos;
    if (auto found = first_file(places, {std::string(name) + (dotless ? ".exe" : "")}, is_file)) {
        return found;
    }
    if (!dotless) return std::nullopt;
    return first_file(places, with_each(name, extensions), is_file);
}

std::optional<std::string> search_to_report(std::string_view name,
                                            const std::vector<std::string>& dirs,
                                            const std::vector<std::string>& extensions,
                                            const FileTest& is_file) {
    std::vector<std::string> files = with_each(name, extensions);
    const bool has_extension = std::any_of(extensions.begin(), extensions.end(), [&](auto& ext) {
        return !ext.empty() && ends_with_nocase(name, ext);
    });
    if (has_extension) files.insert(files.begin(), std::string(name));
    return first_file(dirs, files, is_file);
}

Variables with_path_variable(Variables block) {
    std::optional<std::string> path;
    for (const auto& [name, value] : block) {
        if (name == "PATH") return block;
        if (!path && same_letters(name, "PATH")) path = value;
    }
    if (path) block.emplace_back("PATH", std::move(*path));
    return block;
}

}  // namespace kiln::platform::win
