#include "runtime/platform/os_heap.h"

#include <windows.h>

namespace quillgate {

namespace {
HANDLE heap_handle = nullptr;
}

bool os_heap_create() {
    if (!heap_handle) heap_handle = HeapCreate(0, 4096, 0);
    return heap_handle != nullptr;
}

void os_heap_destroy() {
    if (heap_handle) HeapDestroy(heap_handle);
    heap_handle = nullptr;
}

void* os_heap_alloc(std::size_t size, bool zeroed) {
    if (!heap_handle) return nullptr;
    return HeapAlloc(heap_handle, zeroed ? HEAP_ZERO_MEMORY : 0, size);
}

void* os_heap_realloc(void* block, std::size_t size, bool zero_growth) {
    if (!heap_handle) return nullptr;
    return HeapReAlloc(heap_handle, zero_growth ? HEAP_ZERO_MEMORY : 0, block, size);
}

void os_heap_free(void* block) {
    if (heap_handle && block) HeapFree(heap_handle, 0, block);
}

std::size_t os_heap_size(const void* block) {
    if (!heap_handle || !block) return 0;
    return HeapSize(heap_handle, 0, block);
}

} // namespace quillgate
