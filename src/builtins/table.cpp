// STUB: replaced by the builtin table.
#include "builtins/builtins.hpp"
namespace kiln {
const std::array<Builtin, kBuiltinCount>& builtin_table() {
    static const std::array<Builtin, kBuiltinCount> table{};
    return table;
}
const Builtin* find_builtin(std::string_view) { return nullptr; }
}  // namespace kiln
