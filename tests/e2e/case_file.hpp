// Test cases of the end-to-end runner and the reader of the case-file format.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

enum class Platform { Both, Posix, Windows };

// A file to create before the case runs; `path` is relative to the working directory, or to
// the home directory when it began with "~/" (`in_home`). A path ending in "/" is a directory.
struct FileSpec {
    std::string path;
    bool in_home = false;
    std::string content;
    bool substitute = false;  // placeholders are replaced (the script file, not '--- file')
};

// What the shell must produce. Placeholders ({tmp}, {home}, {*}) are still in the text.
struct Expected {
    std::string stdout_text;
    std::string stderr_text;
    std::optional<int> status = 0;  // empty: any status other than 0
};

struct Case {
    std::string file;  // the case file's name, e.g. "quoting.txt"
    int line = 0;      // line of the "===" header
    std::string name;
    Platform platform = Platform::Both;
    std::vector<std::string> argv;      // arguments after the binary (placeholders unexpanded)
    std::optional<std::string> script;  // script file name when the text runs as a script
    std::string script_text;
    std::optional<std::string> stdin_text;  // standard input; /dev/null when absent
    std::vector<std::pair<std::string, std::optional<std::string>>> env;  // set, or remove
    std::vector<FileSpec> files;
    int timeout_seconds = 10;
    Expected expected;
};

struct ParseError {
    std::string file;
    int line = 0;
    std::string message;
};

struct CaseFile {
    std::vector<Case> cases;
    std::vector<ParseError> errors;
};

// Reads one case file's text; `file_name` names it in cases and messages.
CaseFile parse_case_file(const std::string& file_name, const std::string& text);

}  // namespace e2e
