// The memory bound on POSIX systems: the limits are read once, the process's use each time
// the bound is asked (from /proc on Linux; elsewhere only the request itself is weighed).
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace kiln::platform {
namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// Room kept for the shell itself (a copy of a captured output, threads' stacks, the parser's
// trees): a quarter of a limit, and at least this much.
constexpr std::uint64_t kMinMargin = std::uint64_t{128} << 20;

// What each measure of the process's use may reach; kNoLimit when nothing limits it.
struct Bounds {
    std::uint64_t address_space = kNoLimit;  // against the size of the address space
    std::uint64_t data = kNoLimit;           // against the private writable mappings
    std::uint64_t resident = kNoLimit;       // against the memory in use
};

struct Use {
    std::uint64_t address_space = 0;
    std::uint64_t data = 0;
    std::uint64_t resident = 0;
};

std::uint64_t less_margin(std::uint64_t limit) {
    if (limit == kNoLimit) return kNoLimit;
    const std::uint64_t margin = std::max(kMinMargin, limit / 4);
    return limit > margin ? limit - margin : 0;
}

std::uint64_t resource_limit(int resource) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
    return limit.rlim_cur;
}

// A small system file's text, cut at `N` bytes; empty when it cannot be read.
template <std::size_t N>
std::string read_small(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buf[N];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// The leading number of `text` after `skip` blank-separated words; kNoLimit when absent.
std::uint64_t number_at(std::string_view text, int skip) {
    std::size_t pos = 0;
    for (int i = 0; i < skip && pos != std::string_view::npos; ++i) {
        pos = text.find(' ', pos);
        if (pos != std::string_view::npos) ++pos;
    }
    std::uint64_t value = 0;
    if (pos == std::string_view::npos ||
        std::from_chars(text.data() + pos, text.data() + text.size(), value).ec != std::errc()) {
        return kNoLimit;
    }
    return value;
}

// The physical memory, or the memory limit of the process's control group when smaller.
std::uint64_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    std::uint64_t memory =
        pages > 0 && page > 0 ? std::uint64_t(pages) * std::uint64_t(page) : kNoLimit;
    // "0::/path" names the group of the unified hierarchy; its memory.max is "max" or bytes.
    const std::string groups = read_small<4096>("/proc/self/cgroup");
    if (const auto at = groups.find("0::/"); at != std::string::npos) {
        const std::string path = "/sys/fs/cgroup" +
                                 groups.substr(at + 3, groups.find('\n', at) - at - 3) +
                                 "/memory.max";
        memory = std::min(memory, number_at(read_small<64>(path.c_str()), 0));
    }
    return memory;
}

const Bounds& bounds() {
    static const Bounds computed = [] {
        Bounds b;
        b.address_space = less_margin(resource_limit(RLIMIT_AS));
        b.data = less_margin(resource_limit(RLIMIT_DATA));
        b.resident = less_margin(physical_memory());
        return b;
    }();
    return computed;
}

// The process's use now: /proc/self/statm holds the sizes in pages.
Use current_use() {
    const std::string statm = read_small<128>("/proc/self/statm");
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const auto pages = [&](int field) {
        const std::uint64_t n = number_at(statm, field);
        return n == kNoLimit ? 0 : n * page;
    };
    return {pages(0), pages(5), pages(1)};
}

bool fits(std::uint64_t used, std::uint64_t more, std::uint64_t bound) {
    return bound == kNoLimit || (more <= bound && used <= bound - more);
}

std::uint64_t g_cap = kNoLimit;  // set by cap_memory

}  // namespace

bool may_hold(std::size_t more) {
    const Bounds& b = bounds();
    const Use use = current_use();
    return fits(use.address_space, more, b.address_space) && fits(use.data, more, b.data) &&
           fits(use.resident, more, std::min(b.resident, g_cap));
}

void cap_memory(std::uint64_t bytes) {
    g_cap = bytes;
}

}  // namespace kiln::platform
