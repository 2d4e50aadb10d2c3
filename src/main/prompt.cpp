// The prompt: the directory shortened with "~", and a green "$" or red "!" after the status.
#include "main/prompt.hpp"

#include "common/text.hpp"

namespace kiln {

std::string prompt_directory(std::string_view cwd, const std::optional<std::string>& home) {
    std::string dir = to_valid_utf8(cwd);
    if (!home) return dir;
    const std::string home_text = to_valid_utf8(*home);
    // A plain byte prefix: a sibling such as /home/alice below home /home/al shows as ~ice.
    if (dir.starts_with(home_text)) return "~" + dir.substr(home_text.size());
    return dir;
}

Prompt build_prompt(std::string_view dir, int last_status) {
    const bool ok = last_status == 0;
    const std::string sym = ok ? "$" : "!";
    const std::string colour = ok ? "\x1b[32m" : "\x1b[31m";
    Prompt p;
    p.plain = "kiln " + std::string(dir) + " " + sym + " ";
    p.colored = "\x1b[1;36mkiln\x1b[0m \x1b[33m" + std::string(dir) + "\x1b[0m " + colour + sym +
                "\x1b[0m ";
    return p;
}

}  // namespace kiln
