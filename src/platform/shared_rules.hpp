// Rules that both systems share, written once: the system files supply only the calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace kiln::platform {

// The names of `path` from `start` on, as `is_sep` separates them, with `.` and empty names
// left out and each `..` taking away the name before it (none at the top), joined by `sep`
// after `lead` (the path's prefix and root, kept as they are); "." when nothing is left.
std::string normalized_names(std::string lead, std::string_view path, std::size_t start,
                             bool (*is_sep)(char), char sep);

// Reads up to `size` bytes from `offset`, fewer at end of file.
using ReadAt = std::function<OsResult<std::string>(std::uint64_t offset, std::size_t size)>;

// The ends of a file of `size` bytes. Without a size (a device, a pipe) there is no end to
// start from, and the first bytes stand for the whole.
OsResult<FileEnds> read_ends(std::optional<std::uint64_t> size, std::size_t head, std::size_t tail,
                             const ReadAt& read_at);

}  // namespace kiln::platform
