// What the console editor does with completion candidates: the common prefix that the first
// Tab inserts, and the column listing that the second Tab shows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kiln {

// The longest common prefix of the texts, cut back so that it never ends inside a UTF-8
// sequence. Empty for no texts.
std::string common_prefix(const std::vector<std::string>& texts);

// The names in columns, filled down and then across, as rows without line ends. Every row
// stays narrower than `columns`, so writing it never wraps. Names are shown as visible text.
std::vector<std::string> listing_rows(const std::vector<std::string>& names, std::size_t columns);

}  // namespace kiln
