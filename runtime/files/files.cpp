// Sequential files. Each open file owns one transfer buffer that serves both
// directions: read-ahead while reading, pending bytes while writing. The
// direction flips on demand, so reads, writes, seeks and cuts mix freely.
#include "runtime/files/files.h"

#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/files/convert.h"

namespace quillgate {

namespace {

slot_table* files = nullptr;

file_object* find(object_id slot) {
    if (files == nullptr) return nullptr;
    return static_cast<file_object*>(slot_get(files, slot));
}

// Writes the pending bytes in writing direction. A short or failed write is
// not retried: the pending bytes are gone either way.
std::uint32_t file_flush(file_object* file) {
    if (file->reading != 0) return 0;
    auto pending = static_cast<std::uint32_t>(file->buffer_size - file->available);
    std::uint32_t written = os_file_write(file->handle, file->buffer, pending);
    file->available = file->buffer_size;
    return written;
}

} // namespace

void file_table_init() {
    if (files != nullptr) return;
    files = slot_table_create(static_cast<std::int32_t>(sizeof(file_object)), 16, file_close);
}

slot_table* file_table() { return files; }

void file_close(object_id slot) {
    if (slot == -1) {
        file_close_all();
        return;
    }
    file_object* file = find(slot);
    if (file == nullptr) return;
    if (file->buffer != nullptr) {
        file_flush(file);
        heap_free(file->buffer);
        file->buffer = nullptr;
    }
    os_file_close(file->handle);
    file->handle = 0;
    slot_release(files, slot);
}

void file_close_all() {
    if (files != nullptr) slot_free_all(files);
}

} // namespace quillgate
