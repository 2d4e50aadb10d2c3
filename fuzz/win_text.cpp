// Windows command lines and text. The input's NUL-separated parts are a program and its
// arguments: quoting them and splitting the line gives them back, the program spelled with
// backslashes. UTF-8 that is valid comes back unchanged from UTF-16 (any other as valid
// UTF-8), and UTF-16 without lone surrogates from UTF-8.
#include "platform/win_text.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/text.hpp"
#include "platform/win_cmdline.hpp"

namespace win = kiln::platform::win;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= input.size();) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        parts.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    const std::string program = parts.front();
    parts.erase(parts.begin());
    (void)win::batch_command_line(program, parts);
    if (program.find('"') == std::string::npos) {
        std::vector<std::string> split =
            win::split_command_line(win::program_command_line(program, parts));
        if (split.front() != win::backslashed(program) ||
            !std::equal(parts.begin(), parts.end(), split.begin() + 1, split.end()))
            std::abort();
    }

    bool valid = false;
    const std::string back = win::to_utf8(win::to_utf16(input), &valid);
    if (!valid || (kiln::is_valid_utf8(input) && back != input)) std::abort();
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    const std::string utf8 = win::to_utf8(units, &valid);
    if (valid && win::to_utf16(utf8) != units) std::abort();
    return 0;
}
