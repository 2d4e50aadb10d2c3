// Text at the wall on Windows: UTF-8 to and from the system's UTF-16 strings, and the
// system's lowercase mapping. The conversions themselves are in win_text.cpp.
#include "platform/windows_detail.hpp"
// windows.h (through windows_detail.hpp) first: the shell headers depend on its types.
#include "platform/win_text.hpp"

namespace kiln::platform::detail {

std::wstring wide(std::string_view text) {
    const std::u16string u = win::to_utf16(text);
    return std::wstring(u.begin(), u.end());
}

std::string narrow(std::wstring_view text, bool* valid) {
    return win::to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()), valid);
}

std::wstring lowercase(std::wstring text) {
    if (text.empty()) return text;
    std::wstring out(text.size(), L'\0');
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.c_str(),
                                static_cast<int>(text.size()), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr, 0);
    return n == static_cast<int>(text.size()) ? out : text;
}

}  // namespace kiln::platform::detail
