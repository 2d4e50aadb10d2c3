// Shows the save path of a closing console window, for the Windows end-to-end cases (the
// console of a Wine run cannot be closed): links the shell's core library, records lines as
// the line editor does and calls the console control handler as the system calls it.
//   close_save FILE LINE...   loads FILE as a session's history and records the lines; then
//                             a Ctrl-C event, which saves nothing, and a close event
#include <string>

#include "editor/history.hpp"
#include "platform/windows_detail.hpp"

namespace {
std::string contents(const std::string& path) {
    auto text = kiln::platform::read_file(path);
    return text ? *text : "(none)";
}
}  // namespace

int main(int argc, char** argv) {
    using namespace kiln;
    platform::init(argc, argv);
    const auto& args = platform::arguments();
    if (args.size() < 2) {
        platform::write_stderr("usage: close_save FILE LINE...\n");
        return 2;
    }
    const std::string& path = args[1];
    HistoryRecord record;
    if (auto loaded = load_history_record(record, path, kHistoryLimit); !loaded)
        platform::write_stderr("load: " + loaded.error() + "\n");
    for (std::size_t i = 2; i < args.size(); ++i)
        record_history_line(record, args[i]);
    platform::catch_endings([&] { (void)save_history_record(record, path, kHistoryLimit); });
    const std::string before = contents(path);
    const BOOL interrupt = platform::detail::on_console_ending(CTRL_C_EVENT);
    const std::string after_interrupt = contents(path);
    const BOOL close = platform::detail::on_console_ending(CTRL_CLOSE_EVENT);
    platform::write_stdout(std::string(interrupt || close ? "handled" : "passed on") +
                           (after_interrupt == before ? ", Ctrl-C saved nothing\n" : "\n"));
    return 0;
}
