// The environment names that every system refuses, checked before asking it.
#pragma once

#include <string_view>

namespace kiln::platform {

// Empty, or containing "=" or NUL: the system could not store or find such a name.
inline bool refused_env_name(std::string_view name) {
    return name.empty() || name.find('=') != std::string_view::npos ||
           name.find('\0') != std::string_view::npos;
}

}  // namespace kiln::platform
