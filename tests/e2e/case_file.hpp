// The case-file format of the end-to-end runner: cases of commands and what each must print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

enum class Platform { Both, Posix, Windows };

// One start of the shell and what it must produce; placeholders are still in the text.
struct Command {
    int line = 0;
    std::vector<std::string> argv;  // the arguments after the binary
    std::string out, err;
    std::optional<int> status;  // empty: any status but 0
};

struct Case {
    std::string file, name;  // file: the case file's name, e.g. "quoting.txt"
    int line = 0, end = 0;   // the lines of the "===" header and the case's last line
    Platform platform = Platform::Both;
    // Files created before the first command: a path relative to the working directory, or
    // to the home directory after "~/"; one ending in "/" is a directory.
    std::vector<std::pair<std::string, std::string>> files;
    std::optional<std::string> input;  // standard input of every command; /dev/null when absent
    std::vector<std::pair<std::string, std::optional<std::string>>> env;  // set, or remove
    int timeout = 10;                                                     // seconds per command
    std::uint64_t limit = 0;  // the address space of every command in bytes; 0: unlimited
    std::vector<Command> commands;
};

// Reads one case file's text; mistakes in it go to `errors` as "file:line: message", and a
// case with a mistake is left out of `cases`.
void parse_case_file(const std::string& file, const std::string& text, std::vector<Case>& cases,
                     std::vector<std::string>& errors);

}  // namespace e2e
