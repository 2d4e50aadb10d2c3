// System errors on Windows: the system's own message for an error code.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.

namespace kiln::platform {

namespace detail {

namespace {
std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD n =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer != nullptr) text = narrow(std::wstring_view(buffer, n));
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) text = "Unknown error";
    return text;
}

}  // namespace

OsError os_error(DWORD code) {
    return {static_cast<int>(code), system_message(code)};
}
OsError last_error() {
    return os_error(GetLastError());
}

}  // namespace detail

std::string describe(const OsError& error) {
    if (error.code < 0) return error.message;  // the shell's own, not the system's
    return error.message + " (os error " + std::to_string(error.code) + ")";
}

}  // namespace kiln::platform
