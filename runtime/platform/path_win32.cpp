#include "runtime/platform/path.h"

#include <windows.h>

namespace quillgate {

bool os_path_exists(const char* path) {
    if (!path || !*path) return false;
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
    // Only a name that is not there counts as missing; a file that cannot be
    // asked about (no access, sharing) exists all the same.
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME;
}

} // namespace quillgate
