// Process start-up and exit on Windows: the arguments, the profile folder, the console modes.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>

#include "platform/platform.hpp"
#include "platform/win_cmdline.hpp"

namespace kiln::platform {

using namespace detail;

namespace {

std::vector<std::string> g_arguments;
std::optional<std::string> g_home;
DWORD g_saved_out_mode = 0;
bool g_out_mode_saved = false;

// Colours and clear screen need virtual-terminal processing on the console's output.
void enable_virtual_terminal(DWORD which) {
    HANDLE h = GetStdHandle(which);
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return;
    if (which == STD_OUTPUT_HANDLE) {
        g_saved_out_mode = mode;
        g_out_mode_saved = true;
    }
    SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

void init(int, char**) {
    // The C runtime's argv is in the ANSI code page; the UTF-16 command line is the truth.
    const std::string line = narrow(GetCommandLineW());
    g_arguments = win::split_command_line(line);
    PWSTR profile = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile)) &&
        profile != nullptr) {
        g_home = narrow(profile);
    }
    CoTaskMemFree(profile);
    // The drive's directory is where the shell starts, whatever an earlier one left there.
    if (auto cwd = current_dir()) keep_drive_directory(*cwd);
    enable_virtual_terminal(STD_OUTPUT_HANDLE);
    enable_virtual_terminal(STD_ERROR_HANDLE);
}

const std::vector<std::string>& arguments() {
    return g_arguments;
}

const std::optional<std::string>& home_dir() {
    return g_home;
}

int process_id() {
    return static_cast<int>(GetCurrentProcessId());
}

void exit_process(int status) {
    std::fflush(stdout);
    if (g_out_mode_saved) SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), g_saved_out_mode);
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace kiln::platform
