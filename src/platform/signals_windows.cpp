// How the interactive shell ends on Windows: a closed console window, log-off or shutdown
// saves the history on the console control handler's own thread. The system ends the process
// when the handler returns, or a few seconds after the event at the latest, so the save cannot
// wait for the main thread, which may be waiting for a key or a program.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include <mutex>

#include "platform/platform.hpp"

namespace kiln::platform {

namespace {
std::mutex g_lock;  // the handler's thread against catch_endings on the main thread
std::function<void()> g_save;
}  // namespace

namespace detail {

BOOL WINAPI on_console_ending(DWORD type) {
    if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_save) g_save();
    return FALSE;  // the next handler, in the end the system's own, ends the process
}

}  // namespace detail

void catch_endings(std::function<void()> save) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_save = std::move(save);
    }
    // Handlers run newest first; Ctrl-C passes through this one to the shell's interrupt.
    static const bool installed = SetConsoleCtrlHandler(detail::on_console_ending, TRUE) != 0;
    (void)installed;
}

bool ending_pending() {
    return false;
}

void end_if_asked() {}

}  // namespace kiln::platform
