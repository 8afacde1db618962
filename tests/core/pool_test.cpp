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

using PoolTest = testing::HeapChecked;

constexpr std::int32_t place_for(std::int32_t element_size) {
    return (element_size + pool_word_size + pool_word_size - 1) / pool_word_size * pool_word_size;
}

pool_chunk* chunk_of(void* element) {
    return *reinterpret_cast<pool_chunk**>(static_cast<char*>(element) - pool_word_size);
}

TEST_F(PoolTest, ChunksGrowWithTheElementTotal) {
    block_pool* pool = pool_create(40, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->place_size, place_for(40));
    std::vector<void*> elements;
    std::int32_t total_before_chunk = 0;
    bool saw_48 = false;
    while (pool->element_total < 12000) {
        std::int32_t total = pool->element_total;
        void* element = pool_alloc(pool);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(element) % alignof(void*), 0u);
        elements.push_back(element);
        if (pool->element_total == total) continue;
        std::int32_t capacity = chunk_of(element)->capacity;
        EXPECT_EQ(pool->element_total, total + capacity);
        if (total < 768) {
            EXPECT_EQ(capacity, 32) << "at total " << total;
        }
        if (total == 768) {
            EXPECT_EQ(capacity, 48);
            saw_48 = true;
        }
        if (total >= 8192) {
            EXPECT_EQ(capacity, 512) << "at total " << total;
        }
        if (total > 768 && total < 8192) {
            EXPECT_TRUE(capacity % 16 == 0 && capacity >= 48 && capacity < 512) << "at total " << total;
        }
        total_before_chunk = total;
    }
    EXPECT_TRUE(saw_48);
    EXPECT_GE(total_before_chunk, 8192);
    EXPECT_TRUE(!pool->partial_list || !pool->partial_list->next) << "only the newest chunk has room";
    for (void* element : elements) pool_free(pool, element);
    EXPECT_EQ(pool->element_total, 0);
    EXPECT_EQ(pool->full_list, nullptr);
    EXPECT_EQ(pool->partial_list, nullptr);
    pool_destroy(pool);
}

TEST_F(PoolTest, FreedPlacesAreReusedLastInFirstOut) {
    block_pool* pool = pool_create(16, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    void* a = pool_alloc(pool);
    void* b = pool_alloc(pool);
    void* c = pool_alloc(pool);
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), pool->place_size);
    pool_free(pool, b);
    pool_free(pool, c);
    EXPECT_EQ(pool_alloc(pool), c);
    EXPECT_EQ(pool_alloc(pool), b);
    EXPECT_EQ(pool_alloc(pool), static_cast<char*>(c) + pool->place_size) << "then the never-used area";
    pool_destroy(pool); // releases everything still handed out
}

TEST_F(PoolTest, ChunkGoesBackToTheHeapWithItsLastElement) {
    block_pool* pool = pool_create(16, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    heap_counts before = heap_live();
    void* only = pool_alloc(pool);
    EXPECT_EQ(pool->element_total, 32);
    EXPECT_EQ(heap_live().blocks, before.blocks + 1);
    pool_free(pool, only);
    EXPECT_EQ(pool->element_total, 0);
    EXPECT_EQ(pool->partial_list, nullptr);
    EXPECT_EQ(heap_live().blocks, before.blocks);
    EXPECT_NE(pool_alloc(pool), nullptr);
    EXPECT_EQ(pool->element_total, 32);
    pool_clear(pool);
    EXPECT_EQ(pool->element_total, 0);
    EXPECT_EQ(heap_live().blocks, before.blocks);
    pool_destroy(pool);
}

TEST_F(PoolTest, FreeingFromAFullChunkMakesItTheFirstPartialChunk) {
    block_pool* pool = pool_create(16, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> first(32);
    for (void*& element : first) element = pool_alloc(pool);
    pool_chunk* full = chunk_of(first[0]);
    EXPECT_EQ(pool->full_list, full);
    EXPECT_EQ(pool->partial_list, nullptr);
    void* other = pool_alloc(pool);
    EXPECT_NE(chunk_of(other), full);

    pool_free(pool, first[10]);
    EXPECT_EQ(pool->partial_list, full);
    EXPECT_EQ(pool->full_list, nullptr);
    EXPECT_EQ(pool_alloc(pool), first[10]);
    EXPECT_EQ(pool->full_list, full);

    for (void* element : first) pool_free(pool, element);
    pool_free(pool, other);
    EXPECT_EQ(pool->element_total, 0);
    pool_destroy(pool);
}

TEST_F(PoolTest, SharedPoolsAreKeyedByPlaceSizeAndFlags) {
    // 44 and 41 round up to the same place once the word is added.
    static_assert(place_for(44) == place_for(41));
    block_pool* a = pool_create(44, 32, 512, POOL_SHARED);
    block_pool* b = pool_create(41, 32, 512, POOL_SHARED);
    block_pool* locked = pool_create(44, 32, 512, POOL_SHARED | POOL_LOCKED);
    block_pool* bigger = pool_create(44 + pool_word_size, 32, 512, POOL_SHARED);
    block_pool* own = pool_create(44, 32, 512, 0);
    ASSERT_TRUE(a && b && locked && bigger && own);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, locked);
    EXPECT_NE(a, bigger);
    EXPECT_NE(a, own);
    EXPECT_EQ(a->place_size, place_for(44));
    EXPECT_EQ(a->registry_entry->reference_count, 2);
    EXPECT_EQ(locked->locked, 1);
    EXPECT_EQ(own->registry_entry, nullptr);

    void* element = pool_alloc(a);
    pool_destroy(b); // one reference left: the pool and its element stay
    EXPECT_EQ(a->registry_entry->reference_count, 1);
    pool_free(a, element);
    pool_destroy(a);
    block_pool* again = pool_create(41, 32, 512, POOL_SHARED);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->registry_entry->reference_count, 1) << "the last reference destroyed the old pool";
    pool_destroy(again);
    pool_destroy(locked);
    pool_destroy(bigger);
    pool_destroy(own);
}

TEST_F(PoolTest, ZeroedAllocationClearsTheWholePlaceAfterTheWord) {
    block_pool* pool = pool_create(41, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    std::size_t cleared = static_cast<std::size_t>(place_for(41) - pool_word_size);
    auto* a = static_cast<unsigned char*>(pool_alloc(pool));
    auto* b = static_cast<unsigned char*>(pool_alloc(pool));
    std::memset(a, 0xCD, cleared);
    pool_free(pool, a);
    auto* zeroed = static_cast<unsigned char*>(pool_alloc_zeroed(pool));
    ASSERT_EQ(zeroed, a);
    for (std::size_t i = 0; i < cleared; ++i) ASSERT_EQ(zeroed[i], 0) << "byte " << i;
    EXPECT_EQ(chunk_of(b), chunk_of(a)) << "the next place's word is untouched";
    pool_free(pool, a);
    pool_free(pool, b);
    pool_destroy(pool);
}

TEST_F(PoolTest, AllocationFailureFallsBackToOnePlaceThenNull) {
    block_pool* pool = pool_create(16, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    heap_fail_after(0);
    void* single = pool_alloc(pool);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(chunk_of(single)->capacity, 1);
    EXPECT_EQ(pool->element_total, 1);
    EXPECT_EQ(pool->full_list, chunk_of(single));
    EXPECT_EQ(pool->partial_list, nullptr);

    heap_fail_after(0, true);
    EXPECT_EQ(pool_alloc(pool), nullptr);
    EXPECT_EQ(pool_alloc_zeroed(pool), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, 0), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, POOL_SHARED), nullptr);
    heap_fail_after(-1);

    pool_free(pool, single);
    EXPECT_EQ(pool->element_total, 0);
    EXPECT_EQ(pool->full_list, nullptr);
    pool_destroy(pool);
}

TEST_F(PoolTest, LockedPoolStaysConsistentUnderThreads) {
    block_pool* pool = pool_create(sizeof(std::uintptr_t) * 2, 4, 64, POOL_LOCKED);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->locked, 1);
    constexpr int thread_count = 4;
    constexpr int burst = 48;
    std::atomic<int> damaged{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([pool, t, &damaged, &ready] {
            // Start together, and keep the loop almost all pool calls, so that the threads really collide.
            ++ready;
            while (ready.load() < thread_count) std::this_thread::yield();
            std::uintptr_t* held[burst];
            auto mark = [t](std::uintptr_t* element) { return reinterpret_cast<std::uintptr_t>(element) ^ t; };
            for (int round = 0; round < 6000; ++round) {
                // Bursts of different lengths make chunks fill, empty and move between the lists.
                int count = 1 + (round * 7 + t) % burst;
                for (int i = 0; i < count; ++i) {
                    held[i] = static_cast<std::uintptr_t*>(pool_alloc(pool));
                    if (!held[i]) {
                        ++damaged;
                        return;
                    }
                    held[i][0] = mark(held[i]);
                }
                for (int i = 0; i < count; ++i) {
                    if (held[i][0] != mark(held[i])) ++damaged; // handed to two threads at once
                    pool_free(pool, held[i]);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(damaged.load(), 0);
    EXPECT_EQ(pool->element_total, 0);
    EXPECT_EQ(pool->full_list, nullptr);
    EXPECT_EQ(pool->partial_list, nullptr);
    pool_destroy(pool);
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
    constexpr int thread_count = 8;
    std::atomic<bool> go{false};
    std::atomic<int> returned_early{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
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
    EXPECT_NE(state, 0);
}

} // namespace
} // namespace quillgate
