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
    static thing* open(object_id id) {
        auto* object = static_cast<thing*>(slot_acquire(table, id));
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

bool all_zero(const void* block, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i]) return false;
    return true;
}

TEST_F(SlotsTest, GrowthAddsTheStepBeyondTheRequestedNumber) {
    EXPECT_EQ(table->slot_count, 16);
    ASSERT_NE(open(20), nullptr);
    EXPECT_EQ(table->slot_count, 36);
    for (int slot = 16; slot < 36; ++slot) {
        if (slot != 20) {
            EXPECT_EQ(table->slots[slot], nullptr) << slot;
        }
    }
    // Within the grown array no further growth happens.
    ASSERT_NE(open(35), nullptr);
    EXPECT_EQ(table->slot_count, 36);
}

TEST_F(SlotsTest, ReleasedSlotIsNotLiveAndItsBlockIsReused) {
    EXPECT_EQ(slot_get(table, 5), nullptr);
    thing* first = open(5);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(slot_get(table, 5), first);

    heap_counts before = heap_live();
    slot_release(table, 5);
    EXPECT_EQ(slot_get(table, 5), nullptr);
    EXPECT_TRUE(all_zero(first, sizeof(thing)));
    EXPECT_EQ(open(5), first);
    EXPECT_EQ(heap_live().blocks, before.blocks) << "reopening a slot allocates nothing";
    EXPECT_TRUE(closed.empty()) << "a released block is not closed again";
}

TEST_F(SlotsTest, AcquiringALiveSlotClosesItAndHandsBackTheSameZeroedBlock) {
    thing* first = open(3);
    ASSERT_NE(first, nullptr);
    void* again = slot_acquire(table, 3);
    EXPECT_EQ(again, first);
    EXPECT_EQ(closed, std::vector<object_id>{3});
    EXPECT_TRUE(all_zero(again, sizeof(thing)));
    EXPECT_EQ(slot_get(table, 3), nullptr);
}

TEST_F(SlotsTest, FreeAllClosesNumberedAscendingThenDynamicOldestFirst) {
    ASSERT_NE(open(3), nullptr);
    ASSERT_NE(open(1), nullptr);
    thing* a = open(-1);
    thing* b = open(-1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(slot_get(table, id_of(a)), a);

    slot_free_all(table);
    EXPECT_EQ(closed, (std::vector<object_id>{1, 3, id_of(a), id_of(b)}));
    EXPECT_EQ(table->dynamic_head, nullptr) << "closing unlinked every dynamic node";
    EXPECT_EQ(slot_get(table, 1), nullptr);
    EXPECT_EQ(slot_get(table, 3), nullptr);

    closed.clear();
    slot_free_all(table);
    EXPECT_TRUE(closed.empty()) << "nothing live, nothing closed";
}

TEST_F(SlotsTest, FailedOpenLeavesTheSlotNotLive) {
    void* acquired = slot_acquire(table, 2); // the kind's open failed: no marker written
    ASSERT_NE(acquired, nullptr);
    EXPECT_EQ(slot_get(table, 2), nullptr);
    slot_free_all(table);
    EXPECT_TRUE(closed.empty());
    // Acquiring it again closes nothing and gives the same block.
    EXPECT_EQ(slot_acquire(table, 2), acquired);
    EXPECT_TRUE(closed.empty());
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
    EXPECT_EQ(slot_get(table, 0), nullptr) << "slot 0 never used";
}

TEST_F(SlotsTest, TableWithoutCallbackClosesNothingButStillZeroes) {
    slot_table* plain = slot_table_create(sizeof(thing), 4, nullptr);
    ASSERT_NE(plain, nullptr);
    auto* object = static_cast<thing*>(slot_acquire(plain, 1));
    ASSERT_NE(object, nullptr);
    object->live = 9;
    ASSERT_NE(slot_acquire(plain, -1), nullptr);
    slot_free_all(plain);
    EXPECT_EQ(slot_get(plain, 1), object) << "free-all without a callback leaves objects alone";
    EXPECT_EQ(slot_acquire(plain, 1), object);
    EXPECT_TRUE(all_zero(object, sizeof(thing)));
    slot_table_destroy(plain); // frees the dynamic node too: the fixture checks for leaks
    EXPECT_TRUE(closed.empty());
}

TEST_F(SlotsTest, ExhaustedMemoryGivesNullAndKeepsTheTable) {
    ASSERT_NE(open(0), nullptr);
    void** slots = table->slots;

    heap_fail_after(0);
    EXPECT_EQ(slot_acquire(table, 40), nullptr);
    EXPECT_EQ(table->slot_count, 16);
    EXPECT_EQ(table->slots, slots);

    heap_fail_after(0);
    EXPECT_EQ(slot_acquire(table, 7), nullptr);
    EXPECT_EQ(table->slots[7], nullptr);

    heap_fail_after(0);
    EXPECT_EQ(slot_acquire(table, -1), nullptr);
    EXPECT_EQ(table->dynamic_head, nullptr);

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
    EXPECT_NE(slot_get(table, 0), nullptr) << "the existing object is untouched";
}

TEST_F(SlotsTest, InvalidArgumentsAreRefused) {
    EXPECT_EQ(slot_table_create(1, 4, nullptr), nullptr) << "too small for a live marker";
    EXPECT_EQ(slot_table_create(sizeof(thing), -1, nullptr), nullptr);
    EXPECT_EQ(slot_acquire(table, -2), nullptr);
    EXPECT_EQ(slot_get(table, -1), nullptr);
    slot_release(table, -1);
    slot_release(table, 0); // never used: nothing to zero

    // A table made with no slots still grows to hold the requested one.
    slot_table* empty = slot_table_create(sizeof(thing), 0, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(slot_get(empty, 0), nullptr);
    EXPECT_NE(slot_acquire(empty, 3), nullptr);
    EXPECT_GT(empty->slot_count, 3);
    slot_table_destroy(empty);
}

} // namespace
} // namespace quillgate
