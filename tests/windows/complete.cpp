// Shows what Tab completion offers on Windows, for the Windows end-to-end cases: links the
// shell's core library and completes its argument with the cursor at the end.
//   complete LINE    one line: the start N of the completed word, then " [display] [replacement]"
//                    for every candidate
#include <string>

#include "main/completion.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
    kiln::platform::init(argc, argv);
    const auto& args = kiln::platform::arguments();
    if (args.size() != 2) {
        kiln::platform::write_stderr("usage: complete LINE\n");
        return 2;
    }
    const std::string& line = args[1];
    const kiln::Completion result = kiln::complete(line, line.size());
    std::string out = std::to_string(result.start);
    for (const auto& c : result.candidates)
        out += " [" + c.display + "] [" + c.replacement + "]";
    kiln::platform::write_stdout(out + "\n");
    return 0;
}
