// The memory bound on Windows: the commit limit of the process's job, or else the system's,
// read once; the process's own commit charge each time the bound is asked.
// clang-format off
#include "platform/windows_detail.hpp"  // <windows.h>, which <psapi.h> needs before it
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kiln::platform {
namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// Room kept for the shell itself: a quarter of the limit, and at least this much.
constexpr std::uint64_t kMinMargin = std::uint64_t{128} << 20;

// The job's limit on this process's or the whole job's commit, the smaller; kNoLimit when the
// process is in no job or its job sets none.
std::uint64_t job_limit() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof info,
                                   nullptr)) {
        return kNoLimit;
    }
    std::uint64_t limit = kNoLimit;
    const DWORD flags = info.BasicLimitInformation.LimitFlags;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) limit = info.ProcessMemoryLimit;
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY)
        limit = std::min<std::uint64_t>(limit, info.JobMemoryLimit);
    return limit;
}

std::uint64_t bound() {
    static const std::uint64_t computed = [] {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        std::uint64_t limit = job_limit();
        if (GlobalMemoryStatusEx(&status))
            limit = std::min(limit, std::uint64_t(status.ullTotalPageFile));
        if (limit == kNoLimit) return kNoLimit;
        const std::uint64_t margin = std::max(kMinMargin, limit / 4);
        return limit > margin ? limit - margin : 0;
    }();
    return computed;
}

std::uint64_t g_cap = kNoLimit;  // set by cap_memory

}  // namespace

bool may_hold(std::size_t more) {
    const std::uint64_t limit = std::min(bound(), g_cap);
    if (limit == kNoLimit) return true;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    std::uint64_t used = 0;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)) {
        used = counters.PrivateUsage;
    }
    return more <= limit && used <= limit - more;
}

void cap_memory(std::uint64_t bytes) {
    g_cap = bytes;
}

}  // namespace kiln::platform
