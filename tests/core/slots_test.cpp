#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/core/heap.h"
#include "runtime/core/slots.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

// A stand-in kind: the live marker, then a payload the tests dirty.
struct thing {
    live_marker live;
    char payload[24];
};

class SlotsTest : public testing::HeapChecked {
protected:
    void SetUp() override {
        HeapChecked::SetUp();
        closed.clear();
        table = slot_table_create(sizeof(thing), 16, close_thing);
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override {
        slot_table_destroy(table);
        HeapChecked::TearDown();
    }

    // Opens an object as a kind would: acquire, then mark live.
    static thing* open(object_id id, slot_table* in = table) {
        auto* object = static_cast<thing*>(slot_acquire(in, id));
        if (!object) return nullptr;
        object->live = 1;
        std::memset(object->payload, 0x77, sizeof object->payload);
        return object;
    }
    static object_id id_of(const thing* object) { return reinterpret_cast<object_id>(object); }

    // The kind's close operation, as every kind writes it.
    static void close_thing(object_id id) {
        if (!slot_get(table, id)) return;
        closed.push_back(id);
        slot_release(table, id);
    }

    static inline slot_table* table = nullptr;
    static inline std::vector<object_id> closed;
};

bool all_zero(const void* block) {
    auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < sizeof(thing); ++i)
        if (bytes[i]) return false;
    return true;
}

TEST_F(SlotsTest, GrowthAddsTheStepBeyondTheRequestedNumber) {
    ASSERT_NE(open(20), nullptr);
    EXPECT_EQ(table->slot_count, 36);
    EXPECT_EQ(std::count(table->slots + 16, table->slots + 36, nullptr), 19) << "new slots start empty";
    ASSERT_NE(open(35), nullptr);
    EXPECT_EQ(table->slot_count, 36) << "the last slot of the grown array needs no growth";
}

TEST_F(SlotsTest, ReleasingOrReacquiringReusesTheZeroedBlock) {
    thing* first = open(5);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(slot_get(table, 5), first);
    heap_counts before = heap_live();
    slot_release(table, 5);
    EXPECT_EQ(slot_get(table, 5), nullptr);
    EXPECT_TRUE(all_zero(first));
    EXPECT_EQ(open(5), first);
    EXPECT_EQ(heap_live().blocks, before.blocks) << "reopening a slot allocates nothing";
    EXPECT_TRUE(closed.empty()) << "a released block is not closed again";

    // Acquiring a live slot closes its object first.
    EXPECT_EQ(slot_acquire(table, 5), first);
    EXPECT_EQ(closed, std::vector<object_id>{5});
    EXPECT_TRUE(all_zero(first));
    EXPECT_EQ(slot_get(table, 5), nullptr);
}

TEST_F(SlotsTest, FreeAllClosesNumberedAscendingThenDynamicOldestFirst) {
    ASSERT_NE(open(3), nullptr);
    ASSERT_NE(open(1), nullptr);
    thing* a = open(-1);
    thing* b = open(-1);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(slot_get(table, id_of(a)), a);
    // Acquired but never marked live, as when a kind's open fails.
    void* failed = slot_acquire(table, 2);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(slot_get(table, 2), nullptr);

    slot_free_all(table);
    EXPECT_EQ(closed, (std::vector<object_id>{1, 3, id_of(a), id_of(b)}));
    EXPECT_EQ(table->dynamic_head, nullptr) << "closing unlinked every dynamic node";
    EXPECT_EQ(slot_get(table, 3), nullptr);
    closed.clear();
    slot_free_all(table);
    EXPECT_EQ(slot_acquire(table, 2), failed);
    EXPECT_TRUE(closed.empty()) << "nothing live, nothing closed";
}

TEST_F(SlotsTest, DynamicObjectsUnlinkFromAnyPosition) {
    thing* a = open(-1);
    thing* b = open(-1);
    thing* c = open(-1);
    thing* d = open(-1);
    ASSERT_TRUE(a && b && c && d);
    heap_counts before = heap_live();
    slot_release(table, id_of(c)); // middle
    slot_release(table, id_of(d)); // head
    EXPECT_EQ(heap_live().blocks, before.blocks - 2);

    std::vector<void*> seen;
    object_id id = 0;
    slot_iterate_begin(table);
    while (void* object = slot_iterate_next(table, &id)) {
        EXPECT_EQ(id, reinterpret_cast<object_id>(object));
        seen.push_back(object);
    }
    EXPECT_EQ(seen, (std::vector<void*>{a, b}));
    slot_release(table, id_of(a)); // tail
    slot_release(table, id_of(b));
    EXPECT_EQ(table->dynamic_head, nullptr);
}

TEST_F(SlotsTest, TableWithoutCallbackClosesNothingButStillZeroes) {
    // Made with no slots at all, it still grows to hold the requested one.
    slot_table* plain = slot_table_create(sizeof(thing), 0, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(slot_get(plain, 0), nullptr);
    thing* object = open(1, plain);
    ASSERT_TRUE(object && open(-1, plain));
    slot_free_all(plain);
    EXPECT_EQ(slot_get(plain, 1), object) << "free-all without a callback leaves objects alone";
    EXPECT_EQ(slot_acquire(plain, 1), object);
    EXPECT_TRUE(all_zero(object));
    slot_table_destroy(plain); // frees the dynamic object too: the fixture checks for leaks
}

TEST_F(SlotsTest, ExhaustedMemoryGivesNullAndKeepsTheTable) {
    ASSERT_NE(open(0), nullptr);
    void** slots = table->slots;
    for (object_id id : {object_id{40}, object_id{7}, object_id{-1}}) {
        heap_fail_after(0);
        EXPECT_EQ(slot_acquire(table, id), nullptr) << id;
    }
    EXPECT_EQ(table->slot_count, 16);
    EXPECT_EQ(table->slots, slots);
    EXPECT_EQ(table->slots[7], nullptr);
    EXPECT_EQ(table->dynamic_head, nullptr);
    EXPECT_NE(slot_get(table, 0), nullptr) << "the existing object is untouched";

    for (long n = 0;; ++n) {
        heap_fail_after(n);
        slot_table* made = slot_table_create(sizeof(thing), 8, nullptr);
        heap_fail_after(-1);
        if (made) {
            EXPECT_EQ(n, 2);
            slot_table_destroy(made);
            break;
        }
    }
}

TEST_F(SlotsTest, InvalidArgumentsAreRefused) {
    EXPECT_EQ(slot_table_create(1, 4, nullptr), nullptr) << "too small for a live marker";
    EXPECT_EQ(slot_table_create(sizeof(thing), -1, nullptr), nullptr);
    EXPECT_EQ(slot_acquire(table, -2), nullptr);
    EXPECT_EQ(slot_get(table, -1), nullptr);
    slot_release(table, -1);
    slot_release(table, 0); // never used: nothing to zero
}

} // namespace
} // namespace quillgate
