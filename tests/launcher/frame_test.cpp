// The release step of the runtime frame, which the console's close event may
// run on a thread of its own while the main thread works.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/xml/xml.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;

class Frame : public testing::HeapChecked {
protected:
    void SetUp() override {
        // Numbered slots keep their blocks for reuse; make them exist before
        // the heap's count is taken.
        slot_acquire(file_table(), 1);
        slot_acquire(xml_table(), 0);
        testing::HeapChecked::SetUp();
    }
    void TearDown() override {
        // The release step ends the runtime's life; the next test needs it.
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

TEST_F(Frame, ReleaseFreesDocumentsAndWritesOutFiles) {
    const fs::path folder = fs::temp_directory_path() / "quillgate-frame-test";
    fs::create_directories(folder);
    testing::write_file(folder / "a.xml", "<a/>");
    ASSERT_NE(xml_load(0, (folder / "a.xml").string().c_str(), ENCODING_8BIT), 0);
    ASSERT_NE(file_open(1, (folder / "state.txt").string().c_str()), 0);
    ASSERT_EQ(file_write_text(1, "pending", ENCODING_8BIT), 7);
    EXPECT_EQ(testing::read_file(folder / "state.txt"), "") << "still in the transfer buffer";

    runtime_end();
    EXPECT_EQ(testing::read_file(folder / "state.txt"), "pending");
    EXPECT_EQ(file_position(1), -1);
    EXPECT_EQ(xml_document_get(0), nullptr);
    fs::remove_all(folder);
}

} // namespace
} // namespace quillgate
