// The pattern test of `case`: shell patterns matched against a whole string.
#pragma once

#include <string_view>

namespace kiln {

// True when `pattern` is a well-formed pattern (`?`, `*`, `**` as a whole path component,
// `[...]`, `[!...]`) that matches all of `text`, case-sensitively, with '/', '\\' and a
// leading '.' matched like any other character. A malformed pattern matches nothing.
bool case_pattern_matches(std::string_view pattern, std::string_view text);

}  // namespace kiln
