#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/core/heap.h"
#include "runtime/core/text.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using HeapTest = testing::HeapChecked;

TEST_F(HeapTest, CountsFollowAllocationResizeAndFree) {
    heap_counts before = heap_live();
    void* a = heap_alloc(100);
    void* b = heap_alloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(heap_block_size(a), 100u);
    EXPECT_EQ(heap_live().blocks, before.blocks + 2);
    EXPECT_EQ(heap_live().bytes, before.bytes + 100 + heap_block_size(b));

    a = heap_realloc(a, 300);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(heap_live().blocks, before.blocks + 2);
    EXPECT_EQ(heap_live().bytes, before.bytes + 300 + heap_block_size(b));

    heap_free(a);
    heap_free(b);
    heap_free(nullptr);
    EXPECT_EQ(heap_live().blocks, before.blocks);
    EXPECT_EQ(heap_live().bytes, before.bytes);
}

TEST_F(HeapTest, ZeroedAllocationAndZeroFilledGrowth) {
    // Dirty some memory first so that a zeroed block cannot be zero by luck.
    auto* dirty = static_cast<unsigned char*>(heap_alloc(4096));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, 4096);
    heap_free(dirty);

    auto* block = static_cast<unsigned char*>(heap_alloc_zeroed(4096));
    ASSERT_NE(block, nullptr);
    for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << "at " << i;
    std::memset(block, 0x5A, 16);

    auto* grown = static_cast<unsigned char*>(heap_realloc_zeroed(block, 8192));
    ASSERT_NE(grown, nullptr);
    for (std::size_t i = 0; i < 16; ++i) ASSERT_EQ(grown[i], 0x5A) << "kept byte " << i;
    for (std::size_t i = 16; i < 8192; ++i) ASSERT_EQ(grown[i], 0) << "grown byte " << i;
    heap_free(grown);

    auto* fresh = static_cast<unsigned char*>(heap_realloc_zeroed(nullptr, 64));
    ASSERT_NE(fresh, nullptr);
    for (std::size_t i = 0; i < 64; ++i) ASSERT_EQ(fresh[i], 0);
    heap_free(fresh);
}

TEST_F(HeapTest, EveryBlockIsEightByteAligned) {
    void* blocks[64];
    for (std::size_t size = 0; size < 64; ++size) {
        blocks[size] = heap_alloc(size);
        ASSERT_NE(blocks[size], nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[size]) % 8, 0u) << "size " << size;
    }
    for (std::size_t size = 0; size < 64; ++size) {
        blocks[size] = heap_realloc(blocks[size], size * 3 + 1);
        ASSERT_NE(blocks[size], nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[size]) % 8, 0u) << "resized " << size;
    }
    for (void* block : blocks) heap_free(block);
}

TEST_F(HeapTest, SizesThatWouldWrapAreRefused) {
    constexpr std::size_t huge = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(heap_alloc(huge), nullptr);
    EXPECT_EQ(heap_alloc_zeroed(huge - 8), nullptr);
    void* block = heap_alloc(16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(heap_realloc(block, huge - 1), nullptr);
    EXPECT_EQ(heap_block_size(block), 16u) << "the old block stays";
    heap_free(block);

    char byte = 'x';
    EXPECT_TRUE(text::copy(&byte, huge).empty());
    EXPECT_TRUE(text::concat(std::string_view(&byte, 1), std::string_view(&byte, huge)).empty());
}

TEST_F(HeapTest, InjectedFaultFiresOnceAtTheCountedAllocation) {
    heap_fail_after(2);
    EXPECT_FALSE(heap_fault_fired());
    void* first = heap_alloc(8);
    void* second = heap_alloc_zeroed(8);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_FALSE(heap_fault_fired());

    // A failed resize leaves the old block valid and counted.
    std::memset(first, 0x11, 8);
    heap_counts before = heap_live();
    EXPECT_EQ(heap_realloc(first, 4096), nullptr);
    EXPECT_TRUE(heap_fault_fired());
    EXPECT_EQ(static_cast<unsigned char*>(first)[7], 0x11);
    EXPECT_EQ(heap_live().blocks, before.blocks);
    EXPECT_EQ(heap_live().bytes, before.bytes);

    void* after = heap_alloc(8);
    EXPECT_NE(after, nullptr) << "a one-off fault must not persist";
    heap_free(first);
    heap_free(second);
    heap_free(after);
}

TEST_F(HeapTest, PersistentFaultFailsUntilSwitchedOff) {
    heap_fail_after(1, true);
    void* ok = heap_alloc(8);
    EXPECT_NE(ok, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(heap_alloc_zeroed(8), nullptr);
    EXPECT_EQ(heap_realloc(nullptr, 8), nullptr);
    EXPECT_TRUE(heap_fault_fired());

    heap_fail_after(-1);
    EXPECT_FALSE(heap_fault_fired());
    void* again = heap_alloc(8);
    EXPECT_NE(again, nullptr);
    heap_free(ok);
    heap_free(again);
}

TEST_F(HeapTest, TextOwnsItsBlock) {
    heap_counts before = heap_live();
    {
        text hello = text::copy("hello");
        EXPECT_EQ(hello, "hello");
        EXPECT_EQ(hello.size(), 5u);
        EXPECT_EQ(hello.c_str()[5], '\0');

        text joined = text::concat(hello.view(), ", world");
        EXPECT_EQ(joined, "hello, world");

        text moved = std::move(joined);
        EXPECT_TRUE(joined.empty()); // NOLINT(bugprone-use-after-move): moved-from is empty by contract
        EXPECT_STREQ(joined.c_str(), "");
        EXPECT_EQ(moved, "hello, world");
        moved = text::copy("x");
        EXPECT_EQ(moved, "x");
        EXPECT_EQ(heap_live().blocks, before.blocks + 2);

        char* raw = hello.release();
        EXPECT_TRUE(hello.empty());
        text adopted = text::adopt(raw, 5);
        EXPECT_EQ(adopted, "hello");
    }
    EXPECT_EQ(heap_live().blocks, before.blocks);

    heap_fail_after(0);
    text failed = text::concat("a", "b");
    EXPECT_TRUE(failed.empty());
    EXPECT_STREQ(failed.c_str(), "");
    EXPECT_TRUE(text::copy("", 0).empty());
}

} // namespace
} // namespace quillgate
