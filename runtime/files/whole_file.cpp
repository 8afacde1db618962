#include "runtime/files/whole_file.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "runtime/core/heap.h"
#include "runtime/platform/replace.h"

namespace quillgate {

namespace {

// The new content's file beside the target; it goes away again unless it
// took the target's place.
struct temporary_file {
    char* path = nullptr;
    os_handle handle = 0;
    bool in_place = false;

    temporary_file() = default;
    temporary_file(const temporary_file&) = delete;
    temporary_file& operator=(const temporary_file&) = delete;
    ~temporary_file() {
        if (handle) os_file_close(handle);
        if (!in_place && path && *path) replace_delete(path);
        heap_free(path);
    }
};

} // namespace

bool file_replace_contents(const char* path, std::string_view bytes) {
    if (path == nullptr || *path == '\0') return false;
    const int target = replace_check_target(path);
    if (target == REPLACE_REFUSED || bytes.size() > UINT32_MAX) return false;
    temporary_file temp;
    temp.path = static_cast<char*>(heap_alloc_zeroed(std::strlen(path) + replace_temp_extra));
    if (!temp.path) return false;
    temp.handle = replace_create_temp(path, temp.path);
    if (!temp.handle) return false;
    if (target == REPLACE_EXISTING && !replace_copy_attributes(path, temp.handle, temp.path)) return false;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (os_file_write(temp.handle, bytes.data(), size) != size || !replace_flush(temp.handle)) return false;
    // A close that fails may have lost written data; the target stays.
    if (!os_file_close(std::exchange(temp.handle, 0))) return false;
    temp.in_place = replace_move(temp.path, path);
    return temp.in_place;
}

} // namespace quillgate
