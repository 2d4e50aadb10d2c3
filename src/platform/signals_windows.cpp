// How the interactive shell ends on Windows: a closed console window, log-off or shutdown
// saves the history on the console control handler's own thread. The system ends the process
// when the handler returns, or a few seconds after the event at the latest, so the save cannot
// wait for the main thread, which may be waiting for a key or a program.
//
// The shell uses shell32, which loads user32, and the system then treats it as a windowed
// program: log-off and shutdown no longer reach the console control handler but arrive as
// WM_ENDSESSION, sent to the top-level windows of the process. A hidden window on a thread of
// its own receives them.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

#include <mutex>
#include <thread>

#include "platform/platform.hpp"

namespace kiln::platform {

namespace {
std::mutex g_lock;  // the handler's thread against catch_endings on the main thread
std::function<void()> g_save;

void save_now() {
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_save) g_save();
}

LRESULT CALLBACK on_session_message(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION) {
        if (w) save_now();
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

// The hidden window's thread; it lives as long as the process.
void watch_session_end() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = on_session_message;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"kiln-session-end";
    if (RegisterClassW(&wc) == 0) return;
    if (CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                        wc.hInstance, nullptr) == nullptr) {
        return;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
}

}  // namespace

namespace detail {

BOOL WINAPI on_console_ending(DWORD type) {
    if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    save_now();
    return FALSE;  // the next handler, in the end the system's own, ends the process
}

}  // namespace detail

void catch_endings(std::function<void()> save) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_save = std::move(save);
    }
    // Handlers run newest first; Ctrl-C passes through this one to the shell's interrupt.
    static const bool installed = [] {
        std::thread(watch_session_end).detach();
        return SetConsoleCtrlHandler(detail::on_console_ending, TRUE) != 0;
    }();
    (void)installed;
}

bool ending_pending() {
    return false;
}

void end_if_asked() {}

}  // namespace kiln::platform
