// Windows command lines as plain functions: splitting one into arguments the way the C runtime
// does, building the command lines that CreateProcessW passes to programs and to cmd.exe, and
// reading a finished program's exit code as a status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiln::platform::win {

// The arguments of a command line; element 0 is the program as written (quotes removed).
std::vector<std::string> split_command_line(std::string_view line);

// "program" in double quotes, its "/" made backslashes, then each argument after one space,
// quoted so that split_command_line gives the arguments back exactly.
std::string program_command_line(std::string_view program, const std::vector<std::string>& args);

// The command line that runs a .bat or .cmd script (its "/" made backslashes) through
// cmd.exe; absent when the script path or an argument cannot be passed to the interpreter
// safely.
std::optional<std::string> batch_command_line(std::string_view script,
                                              const std::vector<std::string>& args);

// The exit code of a program that Ctrl-C ended (STATUS_CONTROL_C_EXIT).
inline constexpr std::uint32_t kControlCExit = 0xC000013A;

// A program's 32-bit exit code as the shell's status: signed, so that NTSTATUS values read as
// negative, except that Ctrl-C's ending is 130, the status of an interrupt on every platform.
int exit_status(std::uint32_t code);

}  // namespace kiln::platform::win
