#include "runtime/core/pool.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "runtime/core/heap.h"

namespace quillgate {

namespace {

constexpr std::uint32_t lock_bits = 3;

// Places follow the chunk header directly, so the header's size must keep
// every place, and the element behind its word, pointer-aligned.
static_assert(sizeof(pool_chunk) % alignof(void*) == 0, "chunk header would misalign the element places");

// Entered in its own scope only for pools created locked.
class pool_guard {
public:
    explicit pool_guard(block_pool* pool) : pool_(pool->locked ? pool : nullptr) {
        if (pool_) critical_section_enter(&pool_->section);
    }
    ~pool_guard() {
        if (pool_) critical_section_leave(&pool_->section);
    }
    pool_guard(const pool_guard&) = delete;
    pool_guard& operator=(const pool_guard&) = delete;

private:
    block_pool* pool_;
};

// The process-wide registry of shared pools, set up on first use.
once_state registry_once = 0;
critical_section registry_section;
pool_registry_entry* registry_head = nullptr;

void registry_init() {
    critical_section_init(&registry_section);
    registry_head = nullptr;
}

class registry_guard {
public:
    registry_guard() { critical_section_enter(&registry_section); }
    ~registry_guard() { critical_section_leave(&registry_section); }
    registry_guard(const registry_guard&) = delete;
    registry_guard& operator=(const registry_guard&) = delete;
};

void*& word_of(unsigned char* place) { return *reinterpret_cast<void**>(place); }

unsigned char* place_of(void* element) { return static_cast<unsigned char*>(element) - pool_word_size; }

unsigned char* places_of(pool_chunk* chunk) { return reinterpret_cast<unsigned char*>(chunk + 1); }

void push_chunk(pool_chunk** head, pool_chunk* chunk) {
    chunk->prev = nullptr;
    chunk->next = *head;
    if (*head) (*head)->prev = chunk;
    *head = chunk;
}

void unlink_chunk(pool_chunk** head, pool_chunk* chunk) {
    pool_chunk* next = chunk->next;
    pool_chunk* prev = chunk->prev;
    if (prev) prev->next = next;
    else *head = next;
    if (next) next->prev = prev;
}

// A chunk that fills up or regains a place changes lists on every such
// step of a steady load, so the move is one pass over the links.
void move_chunk(pool_chunk** from, pool_chunk** to, pool_chunk* chunk) {
    unlink_chunk(from, chunk);
    push_chunk(to, chunk);
}

bool is_full(const pool_chunk* chunk) { return chunk->free_count == 0 && chunk->handed_out == chunk->capacity; }

// A chunk of `count` places with its first place already taken, or null.
pool_chunk* make_chunk(const block_pool* pool, std::int32_t count) {
    auto place_size = static_cast<std::size_t>(pool->place_size);
    auto places = static_cast<std::size_t>(count);
    if (places > (std::numeric_limits<std::size_t>::max() - sizeof(pool_chunk)) / place_size) return nullptr;
    auto* chunk = static_cast<pool_chunk*>(heap_alloc(sizeof(pool_chunk) + places * place_size));
    if (!chunk) return nullptr;
    chunk->next = nullptr;
    chunk->prev = nullptr;
    chunk->free_list = nullptr;
    chunk->capacity = count;
    chunk->handed_out = 1;
    chunk->free_count = 0;
    return chunk;
}

// New chunks grow with the pool: a sixteenth of what it holds, in multiples
// of 16, between the first and the largest chunk count.
std::int32_t next_chunk_count(const block_pool* pool) {
    std::int32_t count = (pool->element_total >> 4) & ~std::int32_t{15};
    if (count < pool->first_chunk_count) count = pool->first_chunk_count;
    else if (count > pool->largest_chunk_count) count = pool->largest_chunk_count;
    return count > 0 ? count : 1;
}

void release_chunks(pool_chunk* chunk) {
    while (chunk) {
        pool_chunk* next = chunk->next;
        heap_free(chunk);
        chunk = next;
    }
}

block_pool* create_private(std::int32_t place_size, std::int32_t first_chunk_count, std::int32_t largest_chunk_count,
                           std::uint32_t flags) {
    auto* pool = static_cast<block_pool*>(heap_alloc_zeroed(sizeof(block_pool)));
    if (!pool) return nullptr;
    pool->place_size = place_size;
    pool->first_chunk_count = first_chunk_count;
    pool->largest_chunk_count = largest_chunk_count;
    if ((flags & lock_bits) == POOL_LOCKED) {
        pool->locked = 1;
        critical_section_init(&pool->section);
    }
    return pool;
}

void destroy_private(block_pool* pool) {
    pool_clear(pool);
    if (pool->locked) critical_section_delete(&pool->section);
    heap_free(pool);
}

block_pool* create_shared(std::int32_t place_size, std::int32_t first_chunk_count, std::int32_t largest_chunk_count,
                          std::uint32_t flags) {
    run_once(&registry_once, registry_init);
    registry_guard hold;
    for (pool_registry_entry* entry = registry_head; entry; entry = entry->next) {
        if (entry->place_size == place_size && entry->flags == flags) {
            ++entry->reference_count;
            return entry->pool;
        }
    }
    auto* entry = static_cast<pool_registry_entry*>(heap_alloc_zeroed(sizeof(pool_registry_entry)));
    if (!entry) return nullptr;
    block_pool* pool = create_private(place_size, first_chunk_count, largest_chunk_count, flags & ~POOL_SHARED);
    if (!pool) {
        heap_free(entry);
        return nullptr;
    }
    pool->registry_entry = entry;
    entry->pool = pool;
    entry->place_size = place_size;
    entry->flags = flags;
    entry->reference_count = 1;
    entry->prev = nullptr;
    entry->next = registry_head;
    if (registry_head) registry_head->prev = entry;
    registry_head = entry;
    return pool;
}

void destroy_shared(block_pool* pool) {
    registry_guard hold;
    pool_registry_entry* entry = pool->registry_entry;
    if (--entry->reference_count > 0) return;
    pool->registry_entry = nullptr;
    destroy_private(pool);
    if (entry->prev) entry->prev->next = entry->next;
    else registry_head = entry->next;
    if (entry->next) entry->next->prev = entry->prev;
    heap_free(entry);
}

// The first place of a new chunk, or null when not even a one-place chunk
// can be had. Out of line: it is the one step of an allocation that calls
// the heap.
[[gnu::noinline]] unsigned char* take_new_chunk(block_pool* pool) {
    pool_chunk* chunk = make_chunk(pool, next_chunk_count(pool));
    // Memory for a whole chunk may be short while one place can still be had.
    if (!chunk) chunk = make_chunk(pool, 1);
    if (!chunk) return nullptr;
    pool->element_total += chunk->capacity;
    push_chunk(chunk->capacity > 1 ? &pool->partial_list : &pool->full_list, chunk);
    word_of(places_of(chunk)) = chunk;
    return places_of(chunk);
}

// The element handed out next, or null when not even a one-place chunk can
// be had. The pools that are shared between threads call it inside their
// critical section; the others, like the node pool, straight away.
void* take_place(block_pool* pool) {
    pool_chunk* chunk = pool->partial_list;
    if (!chunk) {
        unsigned char* place = take_new_chunk(pool);
        return place ? place + pool_word_size : nullptr;
    }
    unsigned char* place;
    if (chunk->free_count > 0) {
        // Last freed, first reused: that place is most likely still in the cache.
        place = static_cast<unsigned char*>(chunk->free_list);
        chunk->free_list = word_of(place);
        --chunk->free_count;
    } else {
        place = places_of(chunk) + static_cast<std::size_t>(chunk->handed_out) * pool->place_size;
        ++chunk->handed_out;
    }
    if (is_full(chunk)) {
        // The chunk heads the partial list, so it leaves it from the front.
        pool->partial_list = chunk->next;
        if (chunk->next) chunk->next->prev = nullptr;
        push_chunk(&pool->full_list, chunk);
    }
    word_of(place) = chunk;
    return place + pool_word_size;
}

void give_back(block_pool* pool, void* element) {
    unsigned char* place = place_of(element);
    auto* chunk = static_cast<pool_chunk*>(word_of(place));
    bool was_full = is_full(chunk);
    word_of(place) = chunk->free_list;
    chunk->free_list = place;
    ++chunk->free_count;
    if (chunk->free_count == chunk->handed_out) {
        // Nothing of the chunk is in use any more: give it back to the heap at once.
        unlink_chunk(was_full ? &pool->full_list : &pool->partial_list, chunk);
        pool->element_total -= chunk->capacity;
        heap_free(chunk);
    } else if (was_full) {
        move_chunk(&pool->full_list, &pool->partial_list, chunk);
    }
}

// The locked pools' paths, kept out of line so that the unlocked ones, the
// node pool's, stay free of the saving and restoring they would need.
[[gnu::noinline]] void* alloc_locked(block_pool* pool) {
    critical_section_enter(&pool->section);
    void* element = take_place(pool);
    critical_section_leave(&pool->section);
    return element;
}

[[gnu::noinline]] void free_locked(block_pool* pool, void* element) {
    critical_section_enter(&pool->section);
    give_back(pool, element);
    critical_section_leave(&pool->section);
}

} // namespace

block_pool* pool_create(std::int32_t element_size, std::int32_t first_chunk_count, std::int32_t largest_chunk_count,
                        std::uint32_t flags) {
    if (element_size < 0 || element_size > std::numeric_limits<std::int32_t>::max() - 2 * pool_word_size)
        return nullptr;
    // The word in front, and a size that keeps the next place pointer-aligned.
    std::int32_t place_size = (element_size + 2 * pool_word_size - 1) & ~(pool_word_size - 1);
    if (flags & POOL_SHARED) return create_shared(place_size, first_chunk_count, largest_chunk_count, flags);
    return create_private(place_size, first_chunk_count, largest_chunk_count, flags);
}

void* pool_alloc(block_pool* pool) {
    if (!pool) return nullptr;
    if (pool->locked) return alloc_locked(pool);
    return take_place(pool);
}

void* pool_alloc_zeroed(block_pool* pool) {
    void* element = pool_alloc(pool);
    if (element) std::memset(element, 0, static_cast<std::size_t>(pool->place_size - pool_word_size));
    return element;
}

void pool_free(block_pool* pool, void* element) {
    if (!pool || !element) return;
    if (pool->locked) free_locked(pool, element);
    else give_back(pool, element);
}

void pool_clear(block_pool* pool) {
    if (!pool) return;
    pool_guard hold(pool);
    release_chunks(pool->full_list);
    release_chunks(pool->partial_list);
    pool->full_list = nullptr;
    pool->partial_list = nullptr;
    pool->element_total = 0;
}

void pool_destroy(block_pool* pool) {
    if (!pool) return;
    if (pool->registry_entry) destroy_shared(pool);
    else destroy_private(pool);
}

void run_once(once_state* state, void (*routine)()) {
    if (platform_execute_once(state, routine)) return;
    // 0: not run, 1: running, 2: done.
    std::atomic_ref<once_state> word(*state);
    once_state seen = 0;
    if (word.compare_exchange_strong(seen, 1)) {
        routine();
        word.exchange(2);
        return;
    }
    while (word.load() != 2) platform_yield();
}

} // namespace quillgate
