// Shell text run by run_source on a fresh ShellState, confined: scripts/fuzz starts this in
// private mount, PID and network namespaces with every file system read-only except the
// working directory, and each input runs with PATH empty and a budget of time, enforced the
// way Ctrl-C is: SIGINT to the process group, which stops the shell's loops and its programs.
// Whatever still runs after another budget (a program that left the group or ignores SIGINT)
// is killed: in this PID namespace that is every process but the fuzzer and its parent.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "exec/exec.hpp"
#include "platform/platform.hpp"

namespace fs = std::filesystem;

namespace {

constexpr auto kBudget = std::chrono::milliseconds(500);

fs::path g_work;
// Never destroyed: the watchdog still waits on them while the process exits.
std::mutex& g_mutex = *new std::mutex;
std::condition_variable& g_changed = *new std::condition_variable;
std::uint64_t g_runs = 0;  // odd while an input runs

void watchdog() {
    std::unique_lock lock(g_mutex);
    while (true) {
        g_changed.wait(lock, [] { return g_runs % 2 == 1; });
        const std::uint64_t run = g_runs;
        for (bool first = true; !g_changed.wait_for(lock, kBudget, [run] { return g_runs != run; });
             first = false) {
            if (!first) ::kill(-1, SIGKILL);
            ::kill(0, SIGINT);
        }
    }
}

void next_run() {
    {
        const std::lock_guard lock(g_mutex);
        ++g_runs;
    }
    g_changed.notify_one();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The mark is set by scripts/fuzz inside the namespaces, and no input's program sees it.
    if (std::getenv("KILN_FUZZ_CONFINED") == nullptr || ::access("/", W_OK) == 0) {
        std::fputs("fuzz_run_source: not confined; run it through scripts/fuzz\n", stderr);
        std::exit(2);
    }
    g_work = fs::current_path();
    ::setenv("HOME", g_work.c_str(), 1);
    kiln::platform::init(*argc, *argv);  // as the shell starts: no SIGPIPE, HOME here
    ::setpgid(0, 0);
    kiln::platform::catch_interrupts();
    // An endless producer (`cat /dev/zero | ...`) meets the shell's bound well below the
    // fuzzer's own memory limit, which would otherwise report it as a finding.
    kiln::platform::cap_memory(std::uint64_t{512} << 20);
    std::thread(watchdog).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::error_code ignored;
    fs::current_path(g_work, ignored);
    for (const auto& entry : fs::directory_iterator(g_work, ignored))
        fs::remove_all(entry.path(), ignored);
    ::clearenv();
    ::setenv("PATH", "", 1);
    ::setenv("HOME", g_work.c_str(), 1);
    next_run();
    (void)kiln::platform::take_interrupt();
    {
        kiln::ShellState state;
        kiln::init_state(state);
        kiln::run_source(state, std::string_view(reinterpret_cast<const char*>(data), size));
    }
    next_run();
    return 0;
}
