// Starts one program with a given environment, directory and input, under a time limit.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct ProcessLaunch {
    std::vector<std::string> argv;     // argv[0] is the program's path
    std::vector<std::string> env;      // "NAME=value" entries, the whole environment
    std::string cwd;                   // also holds the files of the streams while it runs
    std::optional<std::string> input;  // standard input; /dev/null when absent
    int timeout_seconds = 10;
};

struct ProcessResult {
    std::string out;
    std::string err;
    int status = 0;  // exit code, or 128 + signal number
    int signal = 0;  // the signal that ended the program, 0 when it exited
    bool timed_out = false;
    std::string start_error;  // set when the program could not be started
};

ProcessResult run_process(const ProcessLaunch& launch, const std::string& scratch);

}  // namespace e2e
