// Rules that both systems share: path names, and the two ends of a file.
#include "platform/shared_rules.hpp"

#include <algorithm>
#include <vector>

namespace kiln::platform {

std::string normalized_names(std::string lead, std::string_view path, std::size_t start,
                             bool (*is_sep)(char), char sep) {
    std::vector<std::string_view> names;
    for (std::size_t i = start; i < path.size();) {
        std::size_t end = i;
        while (end < path.size() && !is_sep(path[end]))
            ++end;
        const std::string_view part = path.substr(i, end - i);
        if (part == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!part.empty() && part != ".") {
            names.push_back(part);
        }
        i = end + 1;
    }
    std::string out = std::move(lead);
    for (std::size_t n = 0; n < names.size(); ++n) {
        if (n > 0) out += sep;
        out += names[n];
    }
    return out.empty() ? "." : out;
}

OsResult<FileEnds> read_ends(std::optional<std::uint64_t> size, std::size_t head, std::size_t tail,
                             const ReadAt& read_at) {
    FileEnds ends;
    if (!size || *size <= tail) {
        // A small file costs its own size, not a buffer of `tail` bytes.
        auto all = read_at(0, size ? static_cast<std::size_t>(*size) : tail);
        if (!all) return fail(all.error());
        ends.tail = std::move(*all);
        ends.whole = ends.tail.size() < tail || size.has_value();
        ends.head = ends.tail.substr(0, head);
        return ends;
    }
    auto first = read_at(0, head);
    if (!first) return fail(first.error());
    auto last = read_at(*size - tail, tail);
    if (!last) return fail(last.error());
    ends.head = std::move(*first);
    ends.tail = std::move(*last);
    ends.whole = false;
    return ends;
}

}  // namespace kiln::platform
