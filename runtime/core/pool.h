// Fixed-size block pool: elements of one size carved from growing chunks.
//
// An element place is one pointer-sized word followed by the element: the
// word holds the chunk's address while the element is handed out and the
// next free place while it is on its chunk's free list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/platform/sync.h"

namespace quillgate {

constexpr std::uint32_t POOL_LOCKED = 1;
constexpr std::uint32_t POOL_SHARED = 4;
// The word in front of every element.
constexpr std::int32_t pool_word_size = static_cast<std::int32_t>(sizeof(void*));

struct pool_chunk {
    pool_chunk* next;
    pool_chunk* prev;
    void* free_list;
    std::int32_t capacity;
    std::int32_t handed_out;
    std::int32_t free_count;
};

struct pool_registry_entry;

struct block_pool {
    pool_chunk* full_list;
    pool_chunk* partial_list;
    pool_registry_entry* registry_entry;
    std::int32_t element_total;
    std::int32_t place_size;
    std::int32_t first_chunk_count;
    std::int32_t largest_chunk_count;
    std::int32_t locked;
    critical_section section;
};

struct pool_registry_entry {
    pool_registry_entry* next;
    pool_registry_entry* prev;
    block_pool* pool;
    std::int32_t place_size;
    std::uint32_t flags;
    std::int32_t reference_count;
};

block_pool* pool_create(std::int32_t element_size, std::int32_t first_chunk_count, std::int32_t largest_chunk_count,
                        std::uint32_t flags);
void* pool_alloc(block_pool* pool);
void* pool_alloc_zeroed(block_pool* pool);
void pool_free(block_pool* pool, void* element);
void pool_clear(block_pool* pool);
void pool_destroy(block_pool* pool);

// Runs `routine` exactly once in the process, however many threads call it;
// returns only after it has finished. `state` starts at 0.
void run_once(once_state* state, void (*routine)());

} // namespace quillgate
