#include "runtime/platform/path.h"

#include <cerrno>
#include <sys/stat.h>

namespace quillgate {

bool os_path_exists(const char* path) {
    if (!path || !*path) return false;
    struct stat info;
    if (stat(path, &info) == 0) return true;
    // Only a name that is not there counts as missing.
    return errno != ENOENT && errno != ENOTDIR;
}

} // namespace quillgate
