// Base fixture of every runtime test: the heap's live block count must be
// back at its starting value when the test ends, and no fault injection may
// outlive the test.
#pragma once

#include <gtest/gtest.h>

#include "runtime/core/heap.h"
#include "runtime/platform/file_io.h"

namespace quillgate::testing {

class HeapChecked : public ::testing::Test {
protected:
    void SetUp() override { start_ = heap_live(); }
    void TearDown() override {
        heap_fail_after(-1);
        io_fail_after(-1);
        heap_counts now = heap_live();
        EXPECT_EQ(now.blocks, start_.blocks) << "runtime heap blocks leaked";
        EXPECT_EQ(now.bytes, start_.bytes) << "runtime heap bytes leaked";
    }

private:
    heap_counts start_{};
};

} // namespace quillgate::testing
