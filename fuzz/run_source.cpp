// Shell text run by run_source on a fresh ShellState, confined: scripts/fuzz starts this in
// private mount, PID and network namespaces with every file system read-only except the
// working directory (a small file system in memory), and each input runs with PATH empty and
// a budget of time, enforced the way Ctrl-C is: SIGINT to the process group, which stops the
// shell's loops and its programs.
// Whatever still runs after another budget (a program that left the group or ignores SIGINT)
// is killed: in this PID namespace that is every process but the fuzzer and those that started
// it (scripts/fuzz, and in a merge libFuzzer's controller and its shell).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exec/exec.hpp"
#include "platform/platform.hpp"

namespace fs = std::filesystem;

namespace {

// Most inputs end well within a millisecond; one that loops or waits costs this much, about
// what a few ordinary inputs cost. (At half a second such inputs took most of the campaign's
// time.)
constexpr auto kBudget = std::chrono::milliseconds(3);
// What an input's output may add to the memory in use before the shell's bound stops it.
constexpr std::uint64_t kHeadroom = std::uint64_t{4} << 20;

fs::path g_work;
std::vector<pid_t> g_spared;  // this process and those that started it
// Never destroyed: the watchdog still waits on them while the process exits.
std::mutex& g_mutex = *new std::mutex;
std::condition_variable& g_changed = *new std::condition_variable;
std::uint64_t g_runs = 0;  // odd while an input runs

void kill_the_rest() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid > 0 && std::ranges::find(g_spared, pid) == g_spared.end()) ::kill(pid, SIGKILL);
    }
}

void watchdog() {
    std::unique_lock lock(g_mutex);
    while (true) {
        g_changed.wait(lock, [] { return g_runs % 2 == 1; });
        const std::uint64_t run = g_runs;
        for (bool first = true; !g_changed.wait_for(lock, kBudget, [run] { return g_runs != run; });
             first = false) {
            if (!first) kill_the_rest();
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
    for (pid_t pid = ::getpid(); pid > 0;) {  // /proc/PID/stat: "PID (NAME) STATE PARENT ..."
        g_spared.push_back(pid);
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string line{std::istreambuf_iterator<char>(stat), {}};
        pid = 0;
        std::sscanf(line.c_str() + line.rfind(')') + 1, " %*c %d", &pid);
    }
    g_work = fs::current_path();
    ::setenv("HOME", g_work.c_str(), 1);
    kiln::platform::init(*argc, *argv);  // as the shell starts: no SIGPIPE, HOME here
    ::setpgid(0, 0);
    kiln::platform::catch_interrupts();
    std::thread(watchdog).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::error_code ignored;
    fs::current_path(g_work, ignored);
    for (const auto& entry : fs::directory_iterator(g_work, ignored))
        fs::remove_all(entry.path(), ignored);
    // An endless producer (`cat /dev/zero | ...`) meets the shell's memory bound a few
    // megabytes above what the process holds now: well below the fuzzer's own limit, which
    // would report it as a finding, and small enough that the input's output costs little.
    std::uint64_t pages = 0, resident = 0;  // /proc/self/statm: size, then resident pages
    std::ifstream("/proc/self/statm") >> pages >> resident;
    kiln::platform::cap_memory(resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) +
                               kHeadroom);
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
