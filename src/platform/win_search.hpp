// How Windows programs are found, as plain functions over a test for "a file is here", so that
// the rules run everywhere: the search that starts a program, the search that `which` and
// `type` report, and the spelling of the program path in the environment.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiln::platform::win {

using FileTest = std::function<bool(const std::string&)>;

// The file that a plain name starts, searched in `places` in order: the name with ".exe"
// appended when it has no dot, else as given. When no place holds that, a name without a dot
// is looked for again, in each place with each of `extensions` (PATHEXT's pieces) in turn.
std::optional<std::string> search_to_run(std::string_view name,
                                         const std::vector<std::string>& places,
                                         const std::vector<std::string>& extensions,
                                         const FileTest& is_file);

// The file that `which` reports for a plain name: in each directory in order, the name as
// given when it already ends in one of the extensions, then the name with each extension
// appended, spelled as the extension is.
std::optional<std::string> search_to_report(std::string_view name,
                                            const std::vector<std::string>& dirs,
                                            const std::vector<std::string>& extensions,
                                            const FileTest& is_file);

using Variables = std::vector<std::pair<std::string, std::string>>;

// The environment block's variables with the program path also under the name PATH when the
// block spells it otherwise (such as "Path"), taken from the first such entry, as the system
// finds it: the shell's PATH is then the one variable that the system searches.
Variables with_path_variable(Variables block);

}  // namespace kiln::platform::win
