// Shows what Tab completion offers on Windows, for the Windows end-to-end cases: links the
// shell's core library and completes its argument with the cursor at the end.
//   complete LINE    "start N", then one line "[display] [replacement]" per candidate
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
    std::string out = "start " + std::to_string(result.start) + "\n";
    for (const auto& c : result.candidates)
        out += "[" + c.display + "] [" + c.replacement + "]\n";
    kiln::platform::write_stdout(out);
    return 0;
}
