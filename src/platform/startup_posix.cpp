// Process start-up and exit on POSIX systems: the arguments, the profile folder, signals and
// the allocator's thresholds.
#include <malloc.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln::platform {
namespace {

std::vector<std::string> g_arguments;
std::optional<std::string> g_home;

}  // namespace

void init(int argc, char** argv) {
    g_arguments.clear();
    for (int i = 0; i < argc; ++i)
        g_arguments.push_back(to_valid_utf8(argv[i]));
    // The profile folder is HOME as the process had it at start, else the password database's.
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        g_home = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        g_home = pw->pw_dir;
    }
    // A write to a reader that has gone is an ignored error, never a crash.
    ::signal(SIGPIPE, SIG_IGN);
    // Expansion and parsing make and drop blocks of a few hundred kilobytes again and again
    // (the names of a large directory, the tree of a sourced file). From the heap, and kept
    // there once freed, they are not mapped and faulted in afresh every time; blocks past
    // 32 MiB, such as a large captured output, are still mapped and given back at once.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

const std::vector<std::string>& arguments() {
    return g_arguments;
}

const std::optional<std::string>& home_dir() {
    return g_home;
}

int process_id() {
    return static_cast<int>(::getpid());
}

void exit_process(int status) {
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace kiln::platform
