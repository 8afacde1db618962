#include "runtime/platform/os_heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include <sanitizer/asan_interface.h>

namespace quillgate {

namespace {

// Each block is preceded by this header; the headers form a list so that
// destroying the heap can release every block still allocated. Its size keeps
// the block behind it on malloc's 16-byte alignment.
struct alignas(16) block_header {
    block_header* prev;
    block_header* next;
    std::size_t size;     // as asked for
    std::size_t capacity; // as obtained from malloc, after the header
};

std::mutex heap_lock;
bool heap_alive = false;
block_header* blocks = nullptr;

// Small blocks come in classes of 16 bytes. A freed small block is kept by
// the thread that freed it, still linked in the heap's list, and handed out
// again for the next request of its class: the usual cycle of making a small
// text and dropping it (a line read, a name built) then takes neither the
// lock nor malloc. A few blocks per class bound what a thread keeps.
constexpr std::size_t class_step = 16;
constexpr std::size_t small_limit = 256;
constexpr std::size_t class_count = small_limit / class_step;
constexpr std::size_t spares_per_class = 8;

// Destroying the heap frees the spares with every other block; a thread's
// spares from before that are recognised by their generation and dropped.
std::atomic<unsigned> heap_generation{1};

// The capacity a request gets: small ones rounded up to their class.
std::size_t capacity_for(std::size_t size) {
    if (size > small_limit) return size;
    return size == 0 ? class_step : (size + class_step - 1) & ~(class_step - 1);
}

void hide(block_header* header) { ASAN_POISON_MEMORY_REGION(header + 1, header->capacity); }
void show(block_header* header) { ASAN_UNPOISON_MEMORY_REGION(header + 1, header->capacity); }

void link(block_header* header) {
    header->prev = nullptr;
    header->next = blocks;
    if (blocks) blocks->prev = header;
    blocks = header;
}

void unlink(block_header* header) {
    if (header->prev) header->prev->next = header->next;
    else blocks = header->next;
    if (header->next) header->next->prev = header->prev;
}

// A size so large that the header would wrap the request round to a small block.
bool too_large(std::size_t size) { return size > std::numeric_limits<std::size_t>::max() - sizeof(block_header); }

block_header* header_of(const void* block) {
    return reinterpret_cast<block_header*>(const_cast<char*>(static_cast<const char*>(block))) - 1;
}

void release(block_header* header) {
    {
        std::lock_guard<std::mutex> hold(heap_lock);
        unlink(header);
    }
    std::free(header);
}

// Plain thread storage, reached without a guard on every call; the object
// whose destructor hands the spares back at the thread's end is touched only
// when the thread keeps its first spare.
struct thread_spares {
    unsigned generation;
    bool closed; // the thread is ending: keep nothing more
    bool watched;
    std::uint8_t count[class_count];
    block_header* held[class_count][spares_per_class];

    // True when the spares may be used: they belong to the heap as it is now.
    bool current() {
        unsigned now = heap_generation.load(std::memory_order_relaxed);
        if (generation != now) {
            generation = now;
            for (std::uint8_t& n : count) n = 0;
        }
        return !closed;
    }

    block_header* take(std::size_t capacity) {
        if (capacity > small_limit || !current()) return nullptr;
        std::size_t c = capacity / class_step - 1;
        if (count[c] == 0) return nullptr;
        block_header* header = held[c][--count[c]];
        show(header);
        return header;
    }

    bool keep(block_header* header);
};

constinit thread_local thread_spares spares{};

struct spares_leaver {
    ~spares_leaver() {
        bool alive = spares.current();
        spares.closed = true;
        if (!alive) return;
        for (std::size_t c = 0; c < class_count; ++c) {
            while (spares.count[c] != 0) {
                block_header* header = spares.held[c][--spares.count[c]];
                show(header);
                release(header);
            }
        }
    }
};

thread_local spares_leaver leaver;

bool thread_spares::keep(block_header* header) {
    if (header->capacity > small_limit || !current()) return false;
    std::size_t c = header->capacity / class_step - 1;
    if (count[c] == spares_per_class) return false;
    if (!watched) {
        static_cast<void>(&leaver); // its destructor now runs at the thread's end
        watched = true;
    }
    hide(header);
    held[c][count[c]++] = header;
    return true;
}

} // namespace

bool os_heap_create() {
    std::lock_guard<std::mutex> hold(heap_lock);
    heap_alive = true;
    return true;
}

void os_heap_destroy() {
    std::lock_guard<std::mutex> hold(heap_lock);
    heap_generation.fetch_add(1);
    while (blocks) {
        block_header* next = blocks->next;
        show(blocks);
        std::free(blocks);
        blocks = next;
    }
    heap_alive = false;
}

void* os_heap_alloc(std::size_t size, bool zeroed) {
    if (too_large(size)) return nullptr;
    std::size_t capacity = capacity_for(size);
    if (block_header* spare = spares.take(capacity)) {
        spare->size = size;
        if (zeroed) std::memset(spare + 1, 0, size);
        return spare + 1;
    }
    auto* header = static_cast<block_header*>(zeroed ? std::calloc(1, sizeof(block_header) + capacity)
                                                     : std::malloc(sizeof(block_header) + capacity));
    if (!header) return nullptr;
    header->size = size;
    header->capacity = capacity;
    std::lock_guard<std::mutex> hold(heap_lock);
    if (!heap_alive) {
        std::free(header);
        return nullptr;
    }
    link(header);
    return header + 1;
}

void* os_heap_realloc(void* block, std::size_t size, bool zero_growth) {
    if (!block) return os_heap_alloc(size, zero_growth);
    if (too_large(size)) return nullptr;
    std::size_t capacity = capacity_for(size);
    std::lock_guard<std::mutex> hold(heap_lock);
    block_header* old = header_of(block);
    std::size_t old_size = old->size;
    unlink(old);
    auto* header = static_cast<block_header*>(std::realloc(old, sizeof(block_header) + capacity));
    if (!header) {
        link(old);
        return nullptr;
    }
    header->size = size;
    header->capacity = capacity;
    link(header);
    if (zero_growth && size > old_size) std::memset(reinterpret_cast<char*>(header + 1) + old_size, 0, size - old_size);
    return header + 1;
}

void os_heap_free(void* block) {
    if (!block) return;
    block_header* header = header_of(block);
    if (!spares.keep(header)) release(header);
}

std::size_t os_heap_size(const void* block) { return block ? header_of(block)->size : 0; }

} // namespace quillgate
