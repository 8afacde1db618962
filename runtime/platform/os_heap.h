// The operating system's side of the runtime heap. Blocks are at least
// 8-byte aligned. The calls are not serialised here: the runtime heap makes
// them under its own lock, which also covers its counters.
#pragma once

#include <cstddef>

namespace quillgate {

bool os_heap_create();
void os_heap_destroy();
void* os_heap_alloc(std::size_t size, bool zeroed);
// Keeps the old block on failure; zero-fills growth when asked.
void* os_heap_realloc(void* block, std::size_t size, bool zero_growth);
void os_heap_free(void* block);
// The size the block was last asked for.
std::size_t os_heap_size(const void* block);

} // namespace quillgate
