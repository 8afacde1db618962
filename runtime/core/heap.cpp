#include "runtime/core/heap.h"

#include <atomic>
#include <cstddef>

#include "runtime/platform/fault_countdown.h"
#include "runtime/platform/os_heap.h"

namespace quillgate {

namespace {

bool heap_up = false;

fault_countdown allocation_faults;

// Each thread keeps its own tallies of the blocks and bytes it allocated and
// freed, so that counting takes no locked instruction on the way in or out
// of the heap; heap_live adds them all up. A block freed on another thread
// than the one that made it leaves one tally below zero and the other above:
// only the sum means anything. A thread's tally outlives the thread and
// keeps its counts, so nothing has to happen when a thread ends (the
// MinGW runtime cannot be relied on to run thread-storage destructors while
// that storage still exists). Threads past the first few dozen share one
// last tally, counted with locked additions. Each has a cache line of its
// own, so that threads do not slow each other down writing their own.
struct alignas(64) thread_tally {
    std::atomic<std::ptrdiff_t> blocks;
    std::atomic<std::ptrdiff_t> bytes;
};

constexpr std::size_t own_tallies = 64;
thread_tally tallies[own_tallies + 1]{};
thread_tally& shared_tally = tallies[own_tallies];
std::atomic<std::size_t> tallies_taken{0};

constinit thread_local thread_tally* tally = nullptr;

[[gnu::noinline]] thread_tally* take_tally() {
    std::size_t index = tallies_taken.fetch_add(1);
    tally = index < own_tallies ? &tallies[index] : &shared_tally;
    return tally;
}

inline void count(std::ptrdiff_t block_change, std::ptrdiff_t byte_change) {
    thread_tally* mine = tally != nullptr ? tally : take_tally();
    if (mine == &shared_tally) {
        mine->blocks.fetch_add(block_change, std::memory_order_relaxed);
        mine->bytes.fetch_add(byte_change, std::memory_order_relaxed);
        return;
    }
    // Only the owning thread writes its tally; others only read it, so a
    // plain load and store suffice.
    mine->blocks.store(mine->blocks.load(std::memory_order_relaxed) + block_change, std::memory_order_relaxed);
    mine->bytes.store(mine->bytes.load(std::memory_order_relaxed) + byte_change, std::memory_order_relaxed);
}

void count_in(void* block) { count(1, static_cast<std::ptrdiff_t>(os_heap_size(block))); }

void count_out(void* block) { count(-1, -static_cast<std::ptrdiff_t>(os_heap_size(block))); }

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
    if (grown) count(0, static_cast<std::ptrdiff_t>(os_heap_size(grown)) - static_cast<std::ptrdiff_t>(old_size));
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
    for (thread_tally& t : tallies) {
        t.blocks = 0;
        t.bytes = 0;
    }
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

heap_counts heap_live() {
    std::ptrdiff_t blocks = 0;
    std::ptrdiff_t bytes = 0;
    for (const thread_tally& t : tallies) {
        blocks += t.blocks.load(std::memory_order_relaxed);
        bytes += t.bytes.load(std::memory_order_relaxed);
    }
    return {static_cast<std::size_t>(blocks), static_cast<std::size_t>(bytes)};
}

void heap_fail_after(long successes, bool persistent) { allocation_faults.arm(successes, persistent); }

bool heap_fault_fired() { return allocation_faults.fired(); }

} // namespace quillgate
