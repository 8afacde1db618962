// The runtime heap: the one allocator of every runtime facility.
//
// Windows: a private heap (HeapCreate(0, 4096, 0)). POSIX: malloc-backed
// blocks chained on a list, so that destroying the heap releases everything.
// Every block starts at a multiple of 8; the XML string pool tells its own
// strings from separately allocated ones by that alignment.
//
// The heap counts its live blocks and bytes, and can be told to fail the
// n-th allocation from now, once or persistently, so that tests can walk
// every allocation failure point of an operation.
#pragma once

#include <cstddef>

namespace quillgate {

// Creates the heap; true when it exists afterwards. Calling it again while
// the heap exists does nothing.
bool heap_create();
// Releases every block at once and the heap itself.
void heap_destroy();
bool heap_exists();

// Null on failure (or when a fault is injected). Size 0 gives a block too.
void* heap_alloc(std::size_t size);
void* heap_alloc_zeroed(std::size_t size);
// A null block allocates. On failure the old block stays valid and null is
// returned. heap_realloc_zeroed zero-fills the bytes beyond the old size.
void* heap_realloc(void* block, std::size_t size);
void* heap_realloc_zeroed(void* block, std::size_t size);
// A null block is ignored.
void heap_free(void* block);
std::size_t heap_block_size(const void* block);

struct heap_counts {
    std::size_t blocks;
    std::size_t bytes;
};
heap_counts heap_live();

// Fault injection: after `successes` further allocations have succeeded, the
// next one fails; with `persistent`, every later one fails too. A negative
// count switches injection off. heap_fault_fired tells whether an injected
// failure happened since the last heap_fail_after.
void heap_fail_after(long successes, bool persistent = false);
bool heap_fault_fired();

} // namespace quillgate
