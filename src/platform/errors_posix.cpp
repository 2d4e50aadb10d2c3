// System errors on POSIX systems. The error of a failed call is read from errno by
// detail::last_error (posix_detail.hpp).
#include "platform/platform.hpp"

namespace kiln::platform {

std::string describe(const OsError& error) {
    if (error.code < 0) return error.message;  // the shell's own, not the system's
    return error.message + " (os error " + std::to_string(error.code) + ")";
}

}  // namespace kiln::platform
