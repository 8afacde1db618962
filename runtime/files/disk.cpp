#include "runtime/files/disk.h"

#include <cstring>
#include <utility>

#include "runtime/core/heap.h"
#include "runtime/files/files.h"
#include "runtime/platform/file_io.h"
#include "runtime/platform/folder.h"
#include "runtime/platform/path.h"

namespace quillgate {

namespace {

// The names list grows by at least this much at a time.
constexpr std::size_t name_list_step = 256;

os_handle open_to_read(const char* path) {
    return os_file_open(path, OS_GENERIC_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
}

// The names gathered by a listing.
struct name_list {
    char* names = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    bool memory_short = false;

    name_list() = default;
    name_list(const name_list&) = delete;
    name_list& operator=(const name_list&) = delete;
    ~name_list() { heap_free(names); }
};

void add_name(void* context, const char* name) {
    auto* list = static_cast<name_list*>(context);
    const std::size_t length = std::strlen(name) + 1;
    if (list->memory_short) return;
    // One byte to spare after the names: the NUL that ends a text.
    if (list->capacity - list->size < length + 1) {
        const std::size_t capacity = 2 * list->capacity + length + name_list_step;
        void* larger = heap_realloc(list->names, capacity);
        if (!larger) {
            list->memory_short = true;
            return;
        }
        list->names = static_cast<char*>(larger);
        list->capacity = capacity;
    }
    std::memcpy(list->names + list->size, name, length);
    list->size += length;
}

} // namespace

bool path_exists(const char* path) { return os_path_exists(path); }

bool file_facts_of(const char* path, file_facts* facts) {
    if (!os_path_exists(path)) {
        *facts = file_facts{};
        return true;
    }
    const os_handle handle = open_to_read(path);
    if (!handle) return false;
    const std::int64_t size = os_file_size(handle);
    os_file_close(handle);
    if (size < 0) return false;
    *facts = file_facts{true, size};
    return true;
}

bool file_read_whole(const char* path, std::int64_t size_limit, text* bytes) {
    const os_handle handle = open_to_read(path);
    if (!handle) {
        // Gone: nothing there. Held by another program: a failure.
        if (os_path_exists(path)) return false;
        *bytes = text();
        return true;
    }
    const std::int64_t size = os_file_size(handle);
    if (size < 0 || size > size_limit) {
        os_file_close(handle);
        if (size < 0) return false;
        *bytes = text();
        return true;
    }
    auto* block = static_cast<char*>(heap_alloc(static_cast<std::size_t>(size) + 1));
    std::size_t got = 0;
    while (block && got < static_cast<std::size_t>(size)) {
        const std::uint32_t part = os_file_read(handle, block + got, static_cast<std::uint32_t>(size - got));
        if (part == 0) break;
        got += part;
    }
    os_file_close(handle);
    if (!block || got != static_cast<std::size_t>(size)) {
        heap_free(block);
        return false;
    }
    block[got] = '\0';
    *bytes = text::adopt(block, got);
    return true;
}

bool folder_file_names(const char* folder, text* names) {
    name_list list;
    const int listed = os_list_files(folder, add_name, &list);
    if (listed == OS_FOLDER_UNREADABLE || list.memory_short) return false;
    if (list.size == 0) {
        *names = text();
        return true;
    }
    list.names[list.size] = '\0';
    *names = text::adopt(std::exchange(list.names, nullptr), list.size);
    return true;
}

bool file_read_line_checked(object_id slot, int flags, text* line) {
    auto* file = file_table() ? static_cast<file_object*>(slot_get(file_table(), slot)) : nullptr;
    if (!file) return false;
    const std::int64_t before = file_position(slot);
    if (before < 0) return false;
    text read = file_read_line(slot, flags);
    if (read.empty()) {
        // An empty line consumes its line end, and only the end of the file
        // gives nothing without consuming anything: a read that consumed
        // nothing before the end failed.
        const std::int64_t after = file_position(slot);
        const std::int64_t size = os_file_size(file->handle);
        if (after < 0 || size < 0 || (after == before && before < size)) return false;
    }
    *line = std::move(read);
    return true;
}

} // namespace quillgate
