// The banner and the prompt of the interactive loop.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiln {

inline constexpr std::string_view kBanner =
    "Kestrel Shell (kiln) 0.1.0 \xE2\x80\x94 type 'help', 'exit' to quit\n";

// The current directory for the prompt: "~" for the home directory itself, "~" and the rest
// when the home text is a byte prefix of it, otherwise unchanged.
std::string prompt_directory(std::string_view cwd, const std::optional<std::string>& home);

struct Prompt {
    std::string plain;    // "kiln {dir} {sym} "
    std::string colored;  // the same characters with colour escapes
};

Prompt build_prompt(std::string_view dir, int last_status);

}  // namespace kiln
