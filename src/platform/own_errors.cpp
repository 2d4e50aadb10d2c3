// The failures that are the shell's own rather than the system's, the same on every system.
#include "common/text.hpp"
#include "platform/platform.hpp"

namespace kiln::platform {

OsError too_large(std::size_t size) {
    return {kTooLarge, "output too large to hold in memory (" + format_size(size) + ")"};
}

OsError interrupted() {
    return {kInterrupted, "interrupted"};
}

}  // namespace kiln::platform
