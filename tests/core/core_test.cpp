// The runtime heap, the block pool (a generated sequence of operations
// against a plain model of what it holds, and threads on a locked pool) and
// the object slots.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "runtime/core/heap.h"
#include "runtime/core/pool.h"
#include "runtime/core/slots.h"
#include "runtime/core/text.h"
#include "tests/support/heap_check.h"
#include "tests/support/results.h"

namespace quillgate {
namespace {

using Core = testing::HeapChecked;

bool all_bytes(const void* block, std::size_t size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [value](unsigned char b) { return b == value; });
}

TEST_F(Core, HeapRefusesWrappingSizesAndFailsWhenTold) {
    constexpr std::size_t huge = std::numeric_limits<std::size_t>::max();
    void* first = heap_alloc(16);
    heap_counts before = heap_live();
    void* empty = heap_alloc(0);
    ASSERT_NE(empty, nullptr) << "0 bytes still make a block";
    EXPECT_EQ(heap_live().bytes, before.bytes + heap_block_size(empty));
    heap_free(empty);
    EXPECT_EQ((results{heap_alloc(huge) == nullptr, heap_alloc_zeroed(huge - 8) == nullptr,
                       heap_realloc(first, huge - 1) == nullptr, text::copy("x", huge).empty(),
                       text::concat("x", std::string_view("x", huge)).empty()}),
              results(5, 1))
        << "sizes that wrap are refused";

    heap_fail_after(1);
    void* second = heap_alloc_zeroed(8);
    ASSERT_EQ((results{first != nullptr, second != nullptr}), results(2, 1));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(first) % 8, 0u);
    std::memset(first, 0x11, 16);
    before = heap_live();
    EXPECT_EQ(heap_realloc(first, 4096), nullptr);
    EXPECT_TRUE(heap_fault_fired());
    EXPECT_TRUE(all_bytes(first, 16, 0x11)) << "a failed resize keeps the old block";
    EXPECT_EQ(heap_live().bytes, before.bytes);
    void* after = heap_alloc(8);
    EXPECT_NE(after, nullptr) << "a one-off fault does not persist";
    heap_fail_after(1, true);
    void* last = heap_alloc(8);
    EXPECT_EQ((results{heap_alloc_zeroed(8) == nullptr, heap_realloc(nullptr, 8) == nullptr}), results(2, 1));
    EXPECT_STREQ(text::concat("a", "b").c_str(), "") << "a failed text is empty, never null";
    heap_fail_after(-1);
    for (void* block : {first, second, after, last}) heap_free(block);
}

// Both chunk lists against the elements the test holds: the element total,
// each list's fullness, and no chunk without a place in use.
void expect_consistent(const block_pool* pool, std::size_t held) {
    std::int64_t total = 0, in_use = 0;
    for (const pool_chunk* list : {pool->full_list, pool->partial_list}) {
        for (const pool_chunk* c = list; c; c = c->next) {
            total += c->capacity, in_use += c->handed_out - c->free_count;
            ASSERT_EQ(list == pool->full_list, c->free_count == 0 && c->handed_out == c->capacity);
            ASSERT_GT(c->handed_out, c->free_count) << "an unused chunk goes back to the heap";
        }
    }
    ASSERT_EQ(total, pool->element_total);
    ASSERT_EQ(in_use, static_cast<std::int64_t>(held));
}

pool_chunk* chunk_of(void* element) {
    return *reinterpret_cast<pool_chunk**>(static_cast<char*>(element) - pool_word_size);
}

TEST_F(Core, PoolGrowsReusesAndReleasesChunksByItsRules) {
    block_pool* pool = pool_create(41, 32, 512, 0);
    ASSERT_NE(pool, nullptr);
    const auto cleared = static_cast<std::size_t>(pool->place_size - pool_word_size);
    EXPECT_EQ(cleared, (41 + 2 * pool_word_size - 1) / pool_word_size * pool_word_size - pool_word_size);
    std::vector<std::uintptr_t*> held;
    std::uint32_t state = 7;
    auto pick = [&state](std::uint32_t n) { return ((state = state * 1664525u + 1013904223u) >> 8) % n; };
    void* freed_from_full = nullptr;
    std::int32_t largest = 0; // the total before the last new chunk
    for (int step = 0; step < 40000; ++step) {
        if (held.empty() || pick(10) < (step < 20000 ? 8u : 2u)) {
            std::int32_t total = pool->element_total;
            bool zeroed = pick(2);
            auto* element = static_cast<std::uintptr_t*>(zeroed ? pool_alloc_zeroed(pool) : pool_alloc(pool));
            ASSERT_NE(element, nullptr);
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(element) % alignof(void*), 0u);
            ASSERT_TRUE(!zeroed || all_bytes(element, cleared, 0)) << "the place's slack is cleared too";
            EXPECT_TRUE(!freed_from_full || element == freed_from_full) << "the freed place of a full chunk first";
            // A new chunk: a sixteenth of the total in multiples of 16, 32 places up to 768, 512 from 8192 on.
            if (pool->element_total != total) {
                ASSERT_EQ(chunk_of(element)->capacity, std::clamp(total >> 4 & ~15, 32, 512)) << "at " << total;
                largest = total;
            }
            std::memset(element, 0xCD, cleared);
            *element = reinterpret_cast<std::uintptr_t>(element);
            held.push_back(element);
            freed_from_full = nullptr;
        } else {
            std::size_t at = pick(static_cast<std::uint32_t>(held.size()));
            std::uintptr_t* element = held[at];
            ASSERT_EQ(*element, reinterpret_cast<std::uintptr_t>(element)) << "handed out twice";
            pool_chunk* chunk = chunk_of(element);
            bool full = chunk->free_count == 0 && chunk->handed_out == chunk->capacity,
                 last = chunk->handed_out - chunk->free_count == 1;
            held[at] = held.back();
            held.pop_back();
            pool_free(pool, element);
            freed_from_full = full && !last ? element : nullptr;
        }
        if (step % 97 == 0) {
            ASSERT_NO_FATAL_FAILURE(expect_consistent(pool, held.size()));
        }
    }
    EXPECT_GT(largest, 8192);
    for (std::uintptr_t* element : held) pool_free(pool, element);
    EXPECT_EQ(pool->element_total, 0);
    pool_alloc(pool);
    pool_clear(pool);
    expect_consistent(pool, 0);
    pool_destroy(pool);
}

TEST_F(Core, SharedPoolsAreKeyedByPlaceSizeAndFlagsAndFallBackToOnePlace) {
    // 44 and 41 give the same place size.
    block_pool* a = pool_create(44, 32, 512, POOL_SHARED);
    block_pool* b = pool_create(41, 32, 512, POOL_SHARED);
    block_pool* locked = pool_create(44, 32, 512, POOL_SHARED | POOL_LOCKED);
    block_pool* bigger = pool_create(44 + pool_word_size, 32, 512, POOL_SHARED);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(locked, nullptr);
    ASSERT_NE(bigger, nullptr);
    ASSERT_EQ(a, b) << "sizes that round alike share a pool";
    ASSERT_NE(a, locked);
    ASSERT_NE(a, bigger);
    EXPECT_EQ(a->registry_entry->reference_count, 2);
    void* element = pool_alloc(a);
    pool_destroy(b); // one reference left: the pool and its element stay
    pool_free(a, element);
    pool_destroy(a);
    block_pool* again = pool_create(41, 32, 512, POOL_SHARED);
    EXPECT_EQ(again->registry_entry->reference_count, 1) << "the last reference destroyed the old pool";
    // Without memory for a chunk a pool hands out a single place, then nothing.
    heap_fail_after(0);
    void* single = pool_alloc(again);
    ASSERT_NE(single, nullptr);
    ASSERT_EQ(again->element_total, 1);
    ASSERT_EQ(again->full_list, chunk_of(single));
    heap_fail_after(0, true);
    EXPECT_EQ(pool_alloc_zeroed(again), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, 0), nullptr);
    EXPECT_EQ(pool_create(16, 32, 512, POOL_SHARED), nullptr);
    heap_fail_after(-1);
    pool_free(again, single);
    EXPECT_EQ(again->element_total, 0);
    for (block_pool* p : {again, locked, bigger}) pool_destroy(p);
}

TEST_F(Core, LockedPoolAndRunOnceHoldUnderThreads) {
    block_pool* pool = pool_create(sizeof(std::uintptr_t) * 2, 4, 64, POOL_LOCKED);
    static once_state once = 0;
    static std::atomic<int> finished{0}, ready{0};
    std::atomic<int> damaged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            run_once(&once, [] {
                // Until the other threads have come, and then some: they wait inside.
                while (ready.load() < 4) std::this_thread::yield();
                for (int i = 0; i < 1000; ++i) std::this_thread::yield();
                ++finished;
            });
            if (finished.load() != 1) ++damaged; // returned before the routine ended
            std::uintptr_t* held[48];
            for (int round = 0; round < 6000; ++round) {
                // Bursts of different lengths make chunks fill, empty and change lists.
                int count = 1 + (round * 7 + t) % 48;
                for (int i = 0; i < count; ++i) {
                    held[i] = static_cast<std::uintptr_t*>(pool_alloc(pool));
                    *held[i] = reinterpret_cast<std::uintptr_t>(held[i]) ^ t;
                }
                for (int i = 0; i < count; ++i) {
                    if (*held[i] != (reinterpret_cast<std::uintptr_t>(held[i]) ^ t)) ++damaged;
                    pool_free(pool, held[i]);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(damaged.load(), 0);
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(pool->element_total, 0);
    pool_destroy(pool);
}

// A kind of object for the slot tests: its live marker, then a payload.
struct thing {
    live_marker live;
    char payload[24];
};
slot_table* things = nullptr;
std::vector<object_id> closed;
void close_thing(object_id id) {
    if (!slot_get(things, id)) return;
    closed.push_back(id);
    slot_release(things, id);
}

thing* open_thing(slot_table* table, object_id id) {
    auto* object = static_cast<thing*>(slot_acquire(table, id));
    if (object) object->live = 1;
    return object;
}

TEST_F(Core, SlotsCloseWhatTheyReplaceAndAllInOrder) {
    long n = -1;
    for (things = nullptr; !things;) {
        heap_fail_after(++n);
        things = slot_table_create(sizeof(thing), 16, close_thing);
    }
    heap_fail_after(-1);
    EXPECT_EQ(n, 2) << "the table and its slots, each failing once";
    EXPECT_EQ(slot_table_create(1, 4, nullptr), nullptr);
    EXPECT_EQ(slot_table_create(sizeof(thing), -1, nullptr), nullptr);
    // Without memory for a grown slot array, a new block or a dynamic object: nothing, and no slot changes.
    for (object_id id : {object_id{40}, object_id{0}, new_object}) {
        heap_fail_after(0);
        EXPECT_EQ(open_thing(things, id), nullptr) << id;
    }
    heap_fail_after(-1);
    EXPECT_EQ(things->slot_count, 16);
    EXPECT_EQ(slot_get(things, 0), nullptr);
    EXPECT_EQ(things->dynamic_head, nullptr);
    EXPECT_EQ(slot_acquire(things, -2), nullptr);
    thing* five = open_thing(things, 5);
    ASSERT_NE(five, nullptr);
    std::memset(five->payload, 0x77, sizeof five->payload);
    heap_counts before = heap_live();
    EXPECT_EQ(open_thing(things, 5), five) << "same block";
    EXPECT_TRUE(all_bytes(five->payload, sizeof five->payload, 0)) << "cleared";
    EXPECT_EQ(closed, std::vector<object_id>{5}) << "closed first";
    EXPECT_EQ(heap_live().blocks, before.blocks) << "a reopened slot allocates nothing";
    ASSERT_NE(open_thing(things, 20), nullptr);
    ASSERT_EQ(things->slot_count, 36) << "grown by the step beyond the slot";
    object_id dynamic[3];
    for (object_id& id : dynamic) id = reinterpret_cast<object_id>(open_thing(things, new_object));
    slot_release(things, dynamic[1]); // from the middle of the list
    slot_release(things, dynamic[1]); // a released id names nothing: not freed twice
    for (object_id stale : {dynamic[1], reinterpret_cast<object_id>(five), object_id{-7}}) {
        EXPECT_EQ(slot_get(things, stale), nullptr) << "not one of the table's objects: refused, not read";
    }
    slot_release(things, 20);
    EXPECT_EQ(slot_get(things, 20), nullptr);
    EXPECT_EQ(slot_get(things, 3), nullptr);
    EXPECT_NE(slot_get(things, dynamic[2]), nullptr);
    open_thing(things, 2);
    closed.clear();
    slot_free_all(things); // numbered ones ascending, then the dynamic ones oldest first
    EXPECT_EQ(closed, (std::vector<object_id>{2, 5, dynamic[0], dynamic[2]}));
    EXPECT_EQ(things->dynamic_head, nullptr);
    EXPECT_EQ(slot_get(things, 5), nullptr);
    open_thing(things, new_object);
    slot_table_destroy(things); // frees the dynamic objects too
}

} // namespace
} // namespace quillgate
