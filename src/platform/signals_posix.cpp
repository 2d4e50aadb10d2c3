// How the interactive shell ends on POSIX systems: SIGHUP and SIGTERM are held until the main
// thread has saved the history, then the shell ends by the same signal; SIGQUIT is ignored.
//
// The handler only records the signal: saving takes memory and files, which a handler may not
// touch. The line editor's wait and every command boundary notice the record (take_interrupt
// answers true while it stands), so the main thread reaches end_if_asked() soon.
#include <signal.h>
#include <unistd.h>

#include "platform/platform.hpp"

namespace kiln::platform {
namespace {

volatile sig_atomic_t g_ending = 0;
std::function<void()> g_save;

void on_ending(int signal) {
    g_ending = signal;
}

}  // namespace

void catch_endings(std::function<void()> save) {
    g_save = std::move(save);
    struct sigaction sa {};
    sa.sa_handler = on_ending;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = SIG_IGN;
    ::sigaction(SIGQUIT, &sa, nullptr);
}

bool ending_pending() {
    return g_ending != 0;
}

void end_if_asked() {
    const int signal = g_ending;
    if (signal == 0) return;
    if (g_save) g_save();
    // The conventional ending: the parent sees the process ended by the signal it was sent.
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(signal, &sa, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace kiln::platform
