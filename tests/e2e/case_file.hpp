// The case-file format of the end-to-end runner: cases of commands and what each must print.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

enum class Platform { Both, Posix, Windows };

// A file created before the first command; `path` is relative to the working directory, or
// to the home directory when `in_home`. A path ending in "/" is a directory.
struct FileSpec {
    std::string path;
    bool in_home = false;
    std::string content;
};

// One start of the shell and what it must produce; placeholders are still in the text.
struct Command {
    int line = 0;
    std::vector<std::string> argv;  // the arguments after the binary
    std::string out;
    std::string err;
    std::optional<int> status = 0;  // empty: any status but 0
};

struct Case {
    std::string file;  // the case file's name, e.g. "quoting.txt"
    int line = 0;      // line of the "===" header
    std::string name;
    Platform platform = Platform::Both;
    std::vector<FileSpec> files;
    std::optional<std::string> input;  // standard input of every command; /dev/null when absent
    std::vector<std::pair<std::string, std::optional<std::string>>> env;  // set, or remove
    int timeout_seconds = 10;
    std::vector<Command> commands;
};

struct CaseFile {
    std::vector<Case> cases;
    std::vector<std::string> errors;  // "file:line: message"
};

// Reads one case file's text; `file_name` names it in cases and messages.
CaseFile parse_case_file(const std::string& file_name, const std::string& text);

}  // namespace e2e
