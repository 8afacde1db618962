#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/core/heap.h"
#include "runtime/core/text.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using HeapTest = testing::HeapChecked;

// True when bytes [from, to) of block all equal value.
bool bytes_are(const void* block, std::size_t from, std::size_t to, unsigned char value) {
    auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = from; i < to; ++i)
        if (bytes[i] != value) return false;
    return true;
}

bool aligned(const void* block) { return reinterpret_cast<std::uintptr_t>(block) % 8 == 0; }

TEST_F(HeapTest, CountsAndAlignmentFollowAllocationResizeAndFree) {
    heap_counts before = heap_live();
    void* blocks[64];
    std::size_t bytes = 0;
    for (std::size_t size = 0; size < 64; ++size) {
        blocks[size] = heap_alloc(size);
        ASSERT_TRUE(blocks[size] && aligned(blocks[size])) << "size " << size;
        bytes += size ? size : heap_block_size(blocks[size]); // even size 0 gives a block
    }
    EXPECT_EQ(heap_live().blocks, before.blocks + 64);
    EXPECT_EQ(heap_live().bytes, before.bytes + bytes);
    bytes = 0;
    for (std::size_t size = 0; size < 64; ++size) {
        blocks[size] = heap_realloc(blocks[size], size * 3 + 1);
        ASSERT_TRUE(blocks[size] && aligned(blocks[size])) << "resized " << size;
        bytes += size * 3 + 1;
    }
    EXPECT_EQ(heap_live().blocks, before.blocks + 64);
    EXPECT_EQ(heap_live().bytes, before.bytes + bytes);
    for (void* block : blocks) heap_free(block);
    heap_free(nullptr);
}

TEST_F(HeapTest, ZeroedAllocationAndZeroFilledGrowth) {
    // Dirty some memory first so that a zeroed block cannot be zero by luck.
    void* dirty = heap_alloc(4096);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, 4096);
    heap_free(dirty);

    void* block = heap_alloc_zeroed(4096);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(bytes_are(block, 0, 4096, 0));
    std::memset(block, 0x5A, 16);
    void* grown = heap_realloc_zeroed(block, 8192);
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(bytes_are(grown, 0, 16, 0x5A)) << "kept bytes";
    EXPECT_TRUE(bytes_are(grown, 16, 8192, 0)) << "grown bytes";
    heap_free(grown);

    void* fresh = heap_realloc_zeroed(nullptr, 64);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(bytes_are(fresh, 0, 64, 0));
    heap_free(fresh);
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

TEST_F(HeapTest, InjectedFaultsOnceAndPersistent) {
    heap_fail_after(2);
    void* first = heap_alloc(8);
    void* second = heap_alloc_zeroed(8);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(heap_fault_fired());
    // A failed resize leaves the old block valid and counted.
    std::memset(first, 0x11, 8);
    heap_counts before = heap_live();
    EXPECT_EQ(heap_realloc(first, 4096), nullptr);
    EXPECT_TRUE(heap_fault_fired());
    EXPECT_TRUE(bytes_are(first, 0, 8, 0x11));
    EXPECT_EQ(heap_live().bytes, before.bytes);
    void* after = heap_alloc(8);
    EXPECT_NE(after, nullptr) << "a one-off fault must not persist";

    heap_fail_after(1, true);
    void* ok = heap_alloc(8);
    EXPECT_NE(ok, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(heap_alloc_zeroed(8), nullptr);
    EXPECT_EQ(heap_realloc(nullptr, 8), nullptr);
    heap_fail_after(-1);
    EXPECT_FALSE(heap_fault_fired());
    void* again = heap_alloc(8);
    EXPECT_NE(again, nullptr);
    for (void* block : {first, second, after, ok, again}) heap_free(block);
}

TEST_F(HeapTest, TextOwnsItsBlock) {
    heap_counts before = heap_live();
    {
        text hello = text::copy("hello");
        EXPECT_EQ(hello.c_str()[5], '\0');
        text moved = text::concat(hello.view(), ", world");
        moved = text::copy("x"); // frees the joined block
        EXPECT_EQ(moved, "x");
        EXPECT_EQ(heap_live().blocks, before.blocks + 2);
        text adopted = text::adopt(hello.release(), 5);
        EXPECT_TRUE(hello.empty());
        EXPECT_EQ(adopted, "hello");
        text taken = std::move(adopted);
        EXPECT_STREQ(adopted.c_str(), ""); // NOLINT(bugprone-use-after-move): moved-from is empty by contract
    }
    EXPECT_EQ(heap_live().blocks, before.blocks);
    heap_fail_after(0);
    EXPECT_STREQ(text::concat("a", "b").c_str(), "") << "a failed text is empty, never null";
}

} // namespace
} // namespace quillgate
