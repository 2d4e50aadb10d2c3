// Directory listing without sizes on Windows: the directory enumeration reports them anyway.
#include "platform/platform.hpp"

namespace kiln::platform {

OsResult<std::vector<DirEntry>> list_dir_names(const std::string& path) {
    return list_dir(path);
}

}  // namespace kiln::platform
