// The release step of the runtime frame, which the console's close event may
// run on a thread of its own while the main thread works.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/frame.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

class Frame : public testing::HeapChecked {
protected:
    // The release step ends the runtime's life; the next test needs it.
    void TearDown() override {
        ASSERT_TRUE(runtime_init());
        testing::HeapChecked::TearDown();
    }
};

TEST_F(Frame, ReleaseWaitsForWorkUnderWayAndRunsOnce) {
    ASSERT_TRUE(runtime_work_begin());
    std::atomic<bool> released{false};
    std::thread closer([&] {
        runtime_end();
        released = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(released) << "the release step waits for the work under way";
    runtime_work_end();
    closer.join();
    EXPECT_TRUE(released);
    EXPECT_FALSE(runtime_work_begin()) << "after the release nothing may be touched";
    runtime_end();
}

} // namespace
} // namespace quillgate
