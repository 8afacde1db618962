// Each thread tallies its own blocks and keeps a few freed small ones for
// reuse: the counts must still add up (the fixture checks them at the end)
// when blocks are freed by another thread after the one that made them ended.
#include <thread>

#include "tests/support/heap_check.h"

namespace quillgate::testing {

TEST_F(HeapChecked, CountsAddUpAcrossThreads) {
    void* made[64];
    std::thread([&made] {
        for (std::size_t i = 0; i < 64; ++i) made[i] = heap_alloc(i * 5);
        for (std::size_t i = 0; i < 300; ++i) heap_free(heap_alloc(i)); // leaves spares behind
    }).join();
    for (void* block : made) heap_free(block);
}

} // namespace quillgate::testing
