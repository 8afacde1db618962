#include "runtime/core/heap.h"

#include <atomic>
#include <cstddef>

#include "runtime/platform/fault_countdown.h"
#include "runtime/platform/os_heap.h"
#include "runtime/platform/sync.h"

namespace quillgate {

namespace {

bool heap_up = false;

fault_countdown allocation_faults;

// Each thread keeps its own tallies of the blocks and bytes it allocated and
// freed, so that counting takes no locked instruction on the way in or out
// of the heap; heap_live adds up every thread's tallies and those of threads
// that have ended. A block freed on another thread than the one that made it
// leaves one tally below zero and the other above: only the sum means
// anything.
struct thread_tally {
    std::atomic<std::ptrdiff_t> blocks;
    std::atomic<std::ptrdiff_t> bytes;
    thread_tally* next;
    thread_tally* prev;
    bool listed;
    bool ended;
};

// Guards the list of tallies and the ended threads' sums. Taken when a thread
// first uses the heap, when it ends, and by heap_live and heap_destroy.
std::atomic<bool> tallies_busy{false};
thread_tally* tallies = nullptr;
std::ptrdiff_t ended_blocks = 0;
std::ptrdiff_t ended_bytes = 0;

class tallies_guard {
public:
    tallies_guard() {
        while (tallies_busy.exchange(true, std::memory_order_acquire)) platform_yield();
    }
    ~tallies_guard() { tallies_busy.store(false, std::memory_order_release); }
    tallies_guard(const tallies_guard&) = delete;
    tallies_guard& operator=(const tallies_guard&) = delete;
};

// Plain thread storage, reached without a guard on every count; the object
// with the destructor that folds it into the ended sums is touched only once
// per thread, when the tally joins the list.
constinit thread_local thread_tally tally{};

struct tally_leaver {
    ~tally_leaver() {
        tallies_guard hold;
        ended_blocks += tally.blocks.load(std::memory_order_relaxed);
        ended_bytes += tally.bytes.load(std::memory_order_relaxed);
        if (tally.prev) tally.prev->next = tally.next;
        else tallies = tally.next;
        if (tally.next) tally.next->prev = tally.prev;
        tally.listed = false;
        tally.ended = true;
    }
};

thread_local tally_leaver leaver;

// The first count of a thread puts its tally on the list; a count after the
// thread's end goes straight to the ended sums.
[[gnu::noinline]] void count_outside(std::ptrdiff_t block_change, std::ptrdiff_t byte_change) {
    if (tally.ended) {
        tallies_guard hold;
        ended_blocks += block_change;
        ended_bytes += byte_change;
        return;
    }
    static_cast<void>(&leaver); // its destructor now runs at the thread's end
    {
        tallies_guard hold;
        tally.next = tallies;
        if (tallies) tallies->prev = &tally;
        tallies = &tally;
        tally.listed = true;
    }
    tally.blocks.store(tally.blocks.load(std::memory_order_relaxed) + block_change, std::memory_order_relaxed);
    tally.bytes.store(tally.bytes.load(std::memory_order_relaxed) + byte_change, std::memory_order_relaxed);
}

inline void count(std::ptrdiff_t block_change, std::ptrdiff_t byte_change) {
    if (!tally.listed) {
        count_outside(block_change, byte_change);
        return;
    }
    // Only the owning thread writes its tally; others only read it, so a
    // plain load and store suffice.
    tally.blocks.store(tally.blocks.load(std::memory_order_relaxed) + block_change, std::memory_order_relaxed);
    tally.bytes.store(tally.bytes.load(std::memory_order_relaxed) + byte_change, std::memory_order_relaxed);
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
    tallies_guard hold;
    for (thread_tally* t = tallies; t; t = t->next) {
        t->blocks = 0;
        t->bytes = 0;
    }
    ended_blocks = 0;
    ended_bytes = 0;
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
    tallies_guard hold;
    std::ptrdiff_t blocks = ended_blocks;
    std::ptrdiff_t bytes = ended_bytes;
    for (thread_tally* t = tallies; t; t = t->next) {
        blocks += t->blocks.load(std::memory_order_relaxed);
        bytes += t->bytes.load(std::memory_order_relaxed);
    }
    return {static_cast<std::size_t>(blocks), static_cast<std::size_t>(bytes)};
}

void heap_fail_after(long successes, bool persistent) { allocation_faults.arm(successes, persistent); }

bool heap_fault_fired() { return allocation_faults.fired(); }

} // namespace quillgate
