// The shell state: start-up population, variable lookup with the special parameters, the
// mirroring of exported variables into the process environment, and the shell's own messages.
#include "state/state.hpp"

#include <limits>

#include "platform/platform.hpp"

namespace kiln {
namespace {

std::string join_positional(const ShellState& state) {
    std::string out;
    for (std::size_t i = 0; i < state.positional.size(); ++i) {
        if (i > 0) out += ' ';
        out += state.positional[i];
    }
    return out;
}

// "1", "+12", "007": the value when the digits fit in 64 bits; absent for anything else.
std::optional<std::uint64_t> parse_position(std::string_view name) {
    if (name.starts_with('+')) name.remove_prefix(1);
    if (name.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    for (const char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::string> lookup(const ShellState& state, std::string_view name) {
    if (const std::string* value = find_variable(state, name)) return *value;
    return std::nullopt;
}

// Why the environment refused a name or value, as one line for the caller's message.
std::string refusal_reason(std::string_view name, std::string_view value,
                           const platform::OsError& error) {
    if (name.empty()) return "an empty name cannot be placed in the environment";
    if (name.find('=') != std::string_view::npos) {
        return "a name containing '=' cannot be placed in the environment";
    }
    if (name.find('\0') != std::string_view::npos || value.find('\0') != std::string_view::npos) {
        return "a NUL character cannot be placed in the environment";
    }
    return "cannot be placed in the environment: " + platform::describe(error);
}

}  // namespace

void init_state(ShellState& state) {
    auto cwd = platform::current_dir();
    state.cwd = cwd ? std::move(*cwd) : std::string(".");
    state.aliases.emplace("ll", "ls -al");
    state.aliases.emplace("la", "ls -a");
    state.aliases.emplace("..", "cd ..");
    // Sized once, at half full, and each name and value moved rather than copied: importing
    // the environment was the largest part of starting the shell.
    auto environment = platform::startup_variables();
    state.variables.reserve(2 * environment.size());
    state.exported.reserve(2 * environment.size());
    for (auto& [name, value] : environment) {
        state.exported.insert(name);
        state.variables.insert_or_assign(std::move(name), std::move(value));
    }
    if (!state.variables.contains("HOME") && platform::home_dir()) {
        // The environment had no HOME, so none of the refusals can apply to this name.
        (void)set_var(state, "HOME", *platform::home_dir(), true);
    }
}

const std::string* find_variable(const ShellState& state, std::string_view name) {
    const auto it = state.variables.find(name);
    return it == state.variables.end() ? nullptr : &it->second;
}

std::optional<std::string> get_var(const ShellState& state, std::string_view name) {
    if (name == "?") return std::to_string(state.last_status);
    if (name == "$") return std::to_string(platform::process_id());
    if (name == "0") return state.shell_name;
    if (name == "#") return std::to_string(state.positional.size());
    if (name == "@" || name == "*") return join_positional(state);
    if (name == "+" || name == "-") return lookup(state, name);
    if (const auto n = parse_position(name); n && *n >= 1) {
        if (*n > state.positional.size()) return std::nullopt;
        return state.positional[*n - 1];
    }
    return lookup(state, name);
}

Result<void, std::string> set_var(ShellState& state, std::string_view name, std::string value,
                                  bool exported) {
    if (exported) state.exported.emplace(name);
    Result<void, std::string> result;
    if (state.exported.contains(name)) {
        if (auto r = platform::set_env(name, value); !r) {
            result = fail(refusal_reason(name, value, r.error()));
        }
    }
    // Reassignment, the common case, replaces the value in place without building a key. A
    // short value would be copied into the old buffer, so that `x=` after a 100 MB capture
    // would keep the 100 MB: a large buffer that the new value would leave mostly empty is
    // given back first.
    if (const auto it = state.variables.find(name); it != state.variables.end()) {
        if (it->second.capacity() > 4096 && value.size() < it->second.capacity() / 4) {
            std::string().swap(it->second);
        }
        it->second = std::move(value);
    } else {
        state.variables.emplace(name, std::move(value));
    }
    return result;
}

Result<void, std::string> unset_var(ShellState& state, std::string_view name) {
    const std::string key(name);
    state.variables.erase(key);
    if (state.exported.erase(key) == 0) return {};
    if (auto r = platform::unset_env(name); !r) return fail(refusal_reason(name, {}, r.error()));
    return {};
}

void write_error_output(const ShellState& state, std::string_view bytes) {
    if (state.stderr_sink != nullptr) {
        (void)platform::write_all(*state.stderr_sink, bytes);
    } else {
        platform::write_stderr(bytes);
    }
}

void report(const ShellState& state, std::string_view text) {
    std::string line = "kiln: ";
    line += text;
    line += '\n';
    write_error_output(state, line);
}

int out_of_memory(ShellState& state, std::string_view text) {
    report(state, text);
    request(state, {Request::Overflow, 0, 0});
    state.last_status = 1;
    return 1;
}

}  // namespace kiln
