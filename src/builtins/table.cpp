// The builtin table: the 28 names in their fixed order, each beside its implementation.
#include <unordered_map>

#include "builtins/builtins.hpp"
#include "builtins/commands.hpp"

namespace kiln {
namespace {

// The order is the order of lookup; `help` sorts the names for display.
constexpr std::array<Builtin, kBuiltinCount> kTable{{
    {"cd", builtin_cd},
    {"pwd", builtin_pwd},
    {"echo", builtin_echo},
    {"printf", builtin_printf},
    {"export", builtin_export},
    {"unset", builtin_unset},
    {"set", builtin_set},
    {"env", builtin_env},
    {"which", builtin_which},
    {"type", builtin_which},
    {"alias", builtin_alias},
    {"unalias", builtin_unalias},
    {"source", builtin_source, true},
    {".", builtin_source, true},
    {"read", builtin_read},
    {"test", builtin_test},
    {"[", builtin_bracket},
    {"true", builtin_true},
    {"false", builtin_false},
    {"clear", builtin_clear},
    {"help", builtin_help},
    {"exit", builtin_exit},
    {"return", builtin_return},
    {"break", builtin_break},
    {"continue", builtin_continue},
    {"history", builtin_history},
    {"ls", builtin_ls},
    {"cat", builtin_cat},
}};

// A missing row would leave an empty entry at the end. (Only names are checked: a function's
// address is not a constant expression under the sanitizers.)
constexpr bool every_row_named() {
    for (const Builtin& b : kTable) {
        if (b.name.empty()) return false;
    }
    return true;
}
static_assert(every_row_named());

}  // namespace

const std::array<Builtin, kBuiltinCount>& builtin_table() {
    return kTable;
}

// Looked up for nearly every command run, so by hash rather than by a scan of the table.
const Builtin* find_builtin(std::string_view name) {
    static const std::unordered_map<std::string_view, const Builtin*, NameHash> kByName = [] {
        std::unordered_map<std::string_view, const Builtin*, NameHash> map;
        for (const Builtin& b : kTable)
            map.emplace(b.name, &b);
        return map;
    }();
    const auto it = kByName.find(name);
    return it == kByName.end() ? nullptr : it->second;
}

}  // namespace kiln
