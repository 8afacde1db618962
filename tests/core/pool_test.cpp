#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/core/heap.h"
#include "runtime/core/pool.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

// Most tests work on one private pool of 41-byte elements, chunks of 32 to 512.
class PoolTest : public testing::HeapChecked {
protected:
    void SetUp() override {
        HeapChecked::SetUp();
        pool = pool_create(41, 32, 512, 0);
        ASSERT_NE(pool, nullptr);
    }
    void TearDown() override {
        pool_destroy(pool); // releases everything still handed out
        HeapChecked::TearDown();
    }
    void expect_empty(const block_pool* p) {
        EXPECT_EQ(p->element_total, 0);
        EXPECT_EQ(p->full_list, nullptr);
        EXPECT_EQ(p->partial_list, nullptr);
    }
    block_pool* pool = nullptr;
};

constexpr std::int32_t place_for(std::int32_t element_size) {
    return (element_size + pool_word_size + pool_word_size - 1) / pool_word_size * pool_word_size;
}

pool_chunk* chunk_of(void* element) {
    return *reinterpret_cast<pool_chunk**>(static_cast<char*>(element) - pool_word_size);
}

TEST_F(PoolTest, ChunksGrowWithTheElementTotal) {
    std::vector<void*> elements;
    std::int32_t last_total = 0;
    bool saw_48 = false;
    while (pool->element_total < 12000) {
        std::int32_t total = pool->element_total;
        void* element = pool_alloc(pool);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(element) % alignof(void*), 0u);
        elements.push_back(element);
        if (pool->element_total == total) continue;
        // A new chunk: 32 up to 768 elements, then a multiple of 16 growing to 512 from 8192 on.
        std::int32_t capacity = chunk_of(element)->capacity;
        EXPECT_EQ(pool->element_total, total + capacity);
        if (total == 768) saw_48 = capacity == 48;
        bool fits = total < 768     ? capacity == 32
                    : total >= 8192 ? capacity == 512
                                    : capacity % 16 == 0 && capacity >= 48 && capacity < 512;
        EXPECT_TRUE(fits) << "capacity " << capacity << " at total " << total;
        last_total = total;
    }
    EXPECT_TRUE(saw_48);
    EXPECT_GE(last_total, 8192);
    EXPECT_TRUE(!pool->partial_list || !pool->partial_list->next) << "only the newest chunk has room";
    for (void* element : elements) pool_free(pool, element);
    expect_empty(pool);
}

TEST_F(PoolTest, FreeListsAndChunksFollowEachFree) {
    heap_counts before = heap_live();
    std::vector<void*> first(32);
    for (void*& element : first) element = pool_alloc(pool);
    EXPECT_EQ(static_cast<char*>(first[1]) - static_cast<char*>(first[0]), pool->place_size);
    pool_chunk* full = chunk_of(first[0]);
    EXPECT_EQ(pool->full_list, full);
    EXPECT_EQ(pool->partial_list, nullptr);
    void* other = pool_alloc(pool);
    EXPECT_NE(chunk_of(other), full);
    EXPECT_EQ(heap_live().blocks, before.blocks + 2);

    // A full chunk with a freed place goes first on the partial list; places come back last in, first out.
    pool_free(pool, first[10]);
    pool_free(pool, first[11]);
    EXPECT_EQ(pool->partial_list, full);
    EXPECT_EQ(pool->full_list, nullptr);
    EXPECT_EQ(pool_alloc(pool), first[11]);
    EXPECT_EQ(pool_alloc(pool), first[10]);
    EXPECT_EQ(pool->full_list, full);
    EXPECT_EQ(pool_alloc(pool), static_cast<char*>(other) + pool->place_size) << "then the never-used area";

    // The last element of a chunk takes the chunk back to the heap.
    for (void* element : first) pool_free(pool, element);
    EXPECT_EQ(pool->element_total, 32);
    EXPECT_EQ(heap_live().blocks, before.blocks + 1);
    pool_clear(pool);
    expect_empty(pool);
    EXPECT_EQ(heap_live().blocks, before.blocks);
}

TEST_F(PoolTest, SharedPoolsAreKeyedByPlaceSizeAndFlags) {
    // 44 and 41 round up to the same place once the word is added.
    block_pool* a = pool_create(44, 32, 512, POOL_SHARED);
    block_pool* b = pool_create(41, 32, 512, POOL_SHARED);
    block_pool* locked = pool_create(44, 32, 512, POOL_SHARED | POOL_LOCKED);
    block_pool* bigger = pool_create(44 + pool_word_size, 32, 512, POOL_SHARED);
    ASSERT_TRUE(a && b && locked && bigger);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, locked);
    EXPECT_NE(a, bigger);
    EXPECT_EQ(a->registry_entry->reference_count, 2);
    EXPECT_EQ(pool->registry_entry, nullptr) << "a private pool is in no registry";

    void* element = pool_alloc(a);
    pool_destroy(b); // one reference left: the pool and its element stay
    EXPECT_EQ(a->registry_entry->reference_count, 1);
    pool_free(a, element);
    pool_destroy(a);
    block_pool* again = pool_create(41, 32, 512, POOL_SHARED);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->registry_entry->reference_count, 1) << "the last reference destroyed the old pool";
    for (block_pool* p : {again, locked, bigger}) pool_destroy(p);
}

TEST_F(PoolTest, ZeroedAllocationClearsTheWholePlaceAfterTheWord) {
    // The place is rounded up beyond the 41 bytes asked for; the slack is cleared too.
    EXPECT_EQ(pool->place_size, place_for(41));
    std::size_t cleared = static_cast<std::size_t>(place_for(41) - pool_word_size);
    auto* a = static_cast<unsigned char*>(pool_alloc(pool));
    auto* b = static_cast<unsigned char*>(pool_alloc(pool));
    std::memset(a, 0xCD, cleared);
    pool_free(pool, a);
    auto* zeroed = static_cast<unsigned char*>(pool_alloc_zeroed(pool));
    ASSERT_EQ(zeroed, a);
    for (std::size_t i = 0; i < cleared; ++i) ASSERT_EQ(zeroed[i], 0) << "byte " << i;
    EXPECT_EQ(chunk_of(b), chunk_of(a)) << "the next place's word is untouched";
}

TEST_F(PoolTest, AllocationFailureFallsBackToOnePlaceThenNull) {
    heap_fail_after(0);
    void* single = pool_alloc(pool);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(chunk_of(single)->capacity, 1);
    EXPECT_EQ(pool->element_total, 1);
    EXPECT_EQ(pool->full_list, chunk_of(single));

    heap_fail_after(0, true);
    EXPECT_EQ(pool_alloc(pool), nullptr);
    EXPECT_EQ(pool_alloc_zeroed(pool), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, 0), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, POOL_SHARED), nullptr);
    heap_fail_after(-1);
    pool_free(pool, single);
    expect_empty(pool);
}

TEST_F(PoolTest, LockedPoolStaysConsistentUnderThreads) {
    block_pool* shared = pool_create(sizeof(std::uintptr_t) * 2, 4, 64, POOL_LOCKED);
    ASSERT_NE(shared, nullptr);
    std::atomic<int> damaged{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared, t, &damaged, &ready] {
            // Start together, and keep the loop almost all pool calls, so that the threads really collide.
            ++ready;
            while (ready.load() < 4) std::this_thread::yield();
            std::uintptr_t* held[48];
            auto mark = [t](std::uintptr_t* element) { return reinterpret_cast<std::uintptr_t>(element) ^ t; };
            for (int round = 0; round < 6000; ++round) {
                // Bursts of different lengths make chunks fill, empty and move between the lists.
                int count = 1 + (round * 7 + t) % 48;
                for (int i = 0; i < count; ++i) {
                    held[i] = static_cast<std::uintptr_t*>(pool_alloc(shared));
                    if (!held[i]) {
                        ++damaged;
                        return;
                    }
                    held[i][0] = mark(held[i]);
                }
                for (int i = 0; i < count; ++i) {
                    if (held[i][0] != mark(held[i])) ++damaged; // handed to two threads at once
                    pool_free(shared, held[i]);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(damaged.load(), 0);
    expect_empty(shared);
    pool_destroy(shared);
}

std::atomic<int> once_runs{0};
std::atomic<bool> once_finished{false};

void slow_once_routine() {
    ++once_runs;
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    once_finished = true;
}

TEST_F(PoolTest, RunOnceRunsItsRoutineExactlyOnceUnderContention) {
    static once_state state = 0;
    std::atomic<bool> go{false};
    std::atomic<int> returned_early{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            run_once(&state, slow_once_routine);
            if (!once_finished.load()) ++returned_early;
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    run_once(&state, slow_once_routine);
    EXPECT_EQ(once_runs.load(), 1);
    EXPECT_EQ(returned_early.load(), 0) << "every caller waits for the routine to finish";
}

} // namespace
} // namespace quillgate
