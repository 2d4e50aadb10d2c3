// Held output on Windows: always a plain string, written into and read from anonymous pipes.
#include <algorithm>
#include <utility>

#include "platform/platform.hpp"

namespace kiln::platform {

Spool::Spool(Spool&& other) noexcept : text_(std::exchange(other.text_, {})) {}

Spool& Spool::operator=(Spool&& other) noexcept {
    text_ = std::exchange(other.text_, {});
    return *this;
}

Spool::~Spool() = default;

void Spool::release() {}

OsResult<void> Spool::append(std::string_view bytes) {
    if (!may_grow(text_, bytes.size())) return fail(too_large(text_.size()));
    text_.append(bytes);
    return {};
}

OsResult<void> Spool::append(std::string&& bytes) {
    if (text_.empty()) {
        text_ = std::move(bytes);
        return {};
    }
    return append(std::string_view(bytes));
}

OsResult<void> Spool::append(Spool&& other) {
    return append(std::move(other.text_));
}

std::string_view Spool::view() const {
    return text_;
}

std::string Spool::take() {
    return std::exchange(text_, {});
}

OsResult<void> read_all(const Handle& handle, Spool& out) {
    return read_all(handle, out.text_);
}

OsResult<void> write_all(const Handle& handle, const Spool& bytes) {
    return write_all(handle, bytes.view());
}

OsResult<void> write_all(const Handle& handle, Spool&& bytes) {
    auto written = write_all(handle, bytes.view());
    bytes.text_.clear();
    return written;
}

}  // namespace kiln::platform
