#include "runtime/files/whole_file.h"

#include <cstdint>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/replace.h"

namespace quillgate {

bool file_replace_contents(const char* path, std::string_view bytes) {
    if (path == nullptr || *path == '\0' || bytes.size() > UINT32_MAX) return false;
    const int target = replace_check_target(path);
    if (target == REPLACE_REFUSED) return false;
    auto* temp = static_cast<char*>(heap_alloc_zeroed(std::strlen(path) + replace_temp_extra));
    if (temp == nullptr) return false;
    os_handle handle = replace_create_temp(path, temp);
    bool done = handle != 0 && (target != REPLACE_EXISTING || replace_copy_attributes(path, handle, temp)) &&
                os_file_write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size())) == bytes.size() &&
                replace_flush(handle);
    // A close that fails may have lost written data; the old file stays.
    if (handle != 0) done = os_file_close(handle) && done;
    done = done && replace_move(temp, path);
    if (!done && handle != 0) replace_delete(temp);
    heap_free(temp);
    return done;
}

} // namespace quillgate
