// Filename expansion: the existing paths that match a pattern (pattern.hpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace kiln {

// The existing paths that match the pattern, sorted byte-wise, each once; or why the
// pattern is malformed. A pattern that starts at a root (or, on Windows, a drive) is searched
// from there and yields absolute paths; any other is searched from the current directory and
// yields paths relative to it, spelled as typed (no `./` is added). Entries and directories
// that cannot be read are left out silently. A trailing separator keeps only directories.
Result<std::vector<std::string>, std::string> glob_paths(std::string_view pattern);

}  // namespace kiln
