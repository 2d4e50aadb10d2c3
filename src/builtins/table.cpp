// The builtin table: the 28 names in their fixed order, each beside its implementation.
#include <cstdint>

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

namespace {

// Looked up for nearly every command run, so by hash rather than by a scan of the table. The
// compiler builds the hash table (open addressing, twice as many slots as names), so that
// starting the shell builds nothing: it paid for the start-up rows of bench/language.sh.
constexpr std::size_t kSlots = 64;
static_assert(kSlots >= 2 * kBuiltinCount && (kSlots & (kSlots - 1)) == 0);

constexpr std::size_t first_slot(std::string_view name) {
    return NameHash{}(name) & (kSlots - 1);
}

// Each slot holds the index of a row of kTable, or -1.
constexpr std::array<std::int8_t, kSlots> kSlotOf = [] {
    std::array<std::int8_t, kSlots> slots{};
    slots.fill(-1);
    for (std::size_t row = 0; row < kTable.size(); ++row) {
        std::size_t slot = first_slot(kTable[row].name);
        while (slots[slot] >= 0)
            slot = (slot + 1) & (kSlots - 1);
        slots[slot] = static_cast<std::int8_t>(row);
    }
    return slots;
}();

}  // namespace

const Builtin* find_builtin(std::string_view name) {
    for (std::size_t slot = first_slot(name);; slot = (slot + 1) & (kSlots - 1)) {
        const int row = kSlotOf[slot];
        if (row < 0) return nullptr;
        if (kTable[row].name == name) return &kTable[row];
    }
}

}  // namespace kiln
