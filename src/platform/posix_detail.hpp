// What the POSIX implementation files of the platform share.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace kiln::platform::detail {

// The error of the last failed call, from errno.
inline OsError last_error() {
    const int code = errno;
    return {code, std::strerror(code)};
}

inline int fd_of(const Handle& h) {
    return static_cast<int>(h.native());
}

// Writes every byte, retrying interrupted and partial writes (files_posix.cpp).
OsResult<void> write_fd(int fd, std::string_view bytes);

}  // namespace kiln::platform::detail
