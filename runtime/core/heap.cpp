#include "runtime/core/heap.h"

#include <atomic>

#include "runtime/platform/fault_countdown.h"
#include "runtime/platform/os_heap.h"
#include "runtime/platform/sync.h"

namespace quillgate {

namespace {

// One lock serialises the heap: the operating system's side, the live
// counters and the heap's existence all change under it, so that an
// allocation and a release cost one atomic exchange each rather than a
// mutex round trip plus an atomic update per counter. It is held for one
// call only, and the runtime works on one thread (the console's close
// handler is the only other that frees), so a waiter yields and retries.
// Sleep(0) gives no time to a holder of lower priority that was preempted
// on the same processor (a handler thread that the system starts may run
// above the main thread), so a wait that lasts sleeps for real, which lets
// any thread run.
class heap_guard {
public:
    heap_guard() {
        for (unsigned looks = 0; held.exchange(true, std::memory_order_acquire);) {
            while (held.load(std::memory_order_relaxed)) ++looks < 64 ? platform_yield() : platform_sleep_ms(1);
        }
    }
    ~heap_guard() { held.store(false, std::memory_order_release); }
    heap_guard(const heap_guard&) = delete;
    heap_guard& operator=(const heap_guard&) = delete;

private:
    static inline std::atomic<bool> held{false};
};

std::size_t live_blocks = 0;
std::size_t live_bytes = 0;
bool heap_up = false;

fault_countdown allocation_faults;

void* allocate(std::size_t size, bool zeroed) {
    heap_guard hold;
    if (!heap_up || allocation_faults.hit()) return nullptr;
    void* block = os_heap_alloc(size, zeroed);
    if (block) {
        ++live_blocks;
        live_bytes += size;
    }
    return block;
}

void* reallocate(void* block, std::size_t size, bool zero_growth) {
    if (!block) return allocate(size, zero_growth);
    heap_guard hold;
    if (!heap_up || allocation_faults.hit()) return nullptr;
    std::size_t old_size = os_heap_size(block);
    void* grown = os_heap_realloc(block, size, zero_growth);
    if (grown) live_bytes = live_bytes - old_size + size;
    return grown;
}

} // namespace

bool heap_create() {
    heap_guard hold;
    if (!heap_up) heap_up = os_heap_create();
    return heap_up;
}

void heap_destroy() {
    heap_guard hold;
    if (!heap_up) return;
    os_heap_destroy();
    heap_up = false;
    live_blocks = 0;
    live_bytes = 0;
}

bool heap_exists() {
    heap_guard hold;
    return heap_up;
}

void* heap_alloc(std::size_t size) { return allocate(size, false); }
void* heap_alloc_zeroed(std::size_t size) { return allocate(size, true); }
void* heap_realloc(void* block, std::size_t size) { return reallocate(block, size, false); }
void* heap_realloc_zeroed(void* block, std::size_t size) { return reallocate(block, size, true); }

void heap_free(void* block) {
    if (!block) return;
    heap_guard hold;
    if (!heap_up) return;
    --live_blocks;
    live_bytes -= os_heap_size(block);
    os_heap_free(block);
}

std::size_t heap_block_size(const void* block) {
    heap_guard hold;
    return heap_up ? os_heap_size(block) : 0;
}

heap_counts heap_live() {
    heap_guard hold;
    return {live_blocks, live_bytes};
}

void heap_fail_after(long successes, bool persistent) { allocation_faults.arm(successes, persistent); }

bool heap_fault_fired() { return allocation_faults.fired(); }

} // namespace quillgate
