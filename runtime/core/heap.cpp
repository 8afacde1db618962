#include "runtime/core/heap.h"

#include <atomic>

#include "runtime/platform/fault_countdown.h"
#include "runtime/platform/os_heap.h"

namespace quillgate {

namespace {

std::atomic<std::size_t> live_blocks{0};
std::atomic<std::size_t> live_bytes{0};
bool heap_up = false;

fault_countdown allocation_faults;

void count_in(void* block) {
    live_blocks.fetch_add(1, std::memory_order_relaxed);
    live_bytes.fetch_add(os_heap_size(block), std::memory_order_relaxed);
}

void count_out(void* block) {
    live_blocks.fetch_sub(1, std::memory_order_relaxed);
    live_bytes.fetch_sub(os_heap_size(block), std::memory_order_relaxed);
}

void* allocate(std::size_t size, bool zeroed) {
    if (!heap_up || allocation_faults.hit()) return nullptr;
    void* block = os_heap_alloc(size, zeroed);
    if (block) count_in(block);
    return block;
}

void* reallocate(void* block, std::size_t size, bool zero_growth) {
    if (!block) return allocate(size, zero_growth);
    if (!heap_up || allocation_faults.hit()) return nullptr;
    std::size_t old_size = os_heap_size(block);
    void* grown = os_heap_realloc(block, size, zero_growth);
    if (grown) {
        live_bytes.fetch_sub(old_size, std::memory_order_relaxed);
        live_bytes.fetch_add(os_heap_size(grown), std::memory_order_relaxed);
    }
    return grown;
}

} // namespace

bool heap_create() {
    if (!heap_up) heap_up = os_heap_create();
    return heap_up;
}

void heap_destroy() {
    if (!heap_up) return;
    os_heap_destroy();
    heap_up = false;
    live_blocks = 0;
    live_bytes = 0;
}

bool heap_exists() { return heap_up; }

void* heap_alloc(std::size_t size) { return allocate(size, false); }
void* heap_alloc_zeroed(std::size_t size) { return allocate(size, true); }
void* heap_realloc(void* block, std::size_t size) { return reallocate(block, size, false); }
void* heap_realloc_zeroed(void* block, std::size_t size) { return reallocate(block, size, true); }

void heap_free(void* block) {
    if (!block || !heap_up) return;
    count_out(block);
    os_heap_free(block);
}

std::size_t heap_block_size(const void* block) { return heap_up ? os_heap_size(block) : 0; }

heap_counts heap_live() { return {live_blocks.load(), live_bytes.load()}; }

void heap_fail_after(long successes, bool persistent) { allocation_faults.arm(successes, persistent); }

bool heap_fault_fired() { return allocation_faults.fired(); }

} // namespace quillgate
