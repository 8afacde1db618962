// Share modes on Windows: what a second handle may do while a file is open.
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using Sharing = FileTest;

TEST_F(Sharing, Options1And2DecideWhatASecondHandleMayDo) {
    lay("s.txt", "x");
    // Without option 1 nobody else gets in.
    ASSERT_NE(open(1, "s.txt", 2, 0), 0);
    EXPECT_EQ(open(2, "s.txt", 1, 1), 0);
    EXPECT_EQ(open(2, "s.txt", 2, 2), 0);
    file_close(1);
    EXPECT_NE(open(2, "s.txt", 1, 1), 0);
    file_close(2);

    // Option 1 lets others read, but not a second writer nor a reader that lets others write.
    ASSERT_NE(open(1, "s.txt"), 0);
    EXPECT_EQ(content("s.txt"), "x");
    EXPECT_EQ(open(3, "s.txt", 2, 2), 0);
    EXPECT_EQ(open(3, "s.txt", 1, 1), 0);
    file_close(1);

    // Option 2 lets both write.
    ASSERT_NE(open(1, "s.txt", 2, 2), 0);
    ASSERT_NE(open(2, "s.txt", 2, 2), 0);
    EXPECT_EQ(write(1, "one"), 3);
    file_close(1);
    EXPECT_EQ(file_seek(2, 3), 3u);
    EXPECT_EQ(write(2, "two"), 3);
    file_close(2);
    EXPECT_EQ(content("s.txt"), "onetwo");
}

TEST_F(Sharing, Mode3FallsBackToAWriteOnlyHandle) {
    lay("held.txt", "old content");
    // Another handle that writes and lets others only write: the reading
    // and writing open fails, the write-only fallback gets in.
    os_handle other =
        os_file_open(path("held.txt").c_str(), OS_GENERIC_WRITE, OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
    ASSERT_NE(other, 0);
    ASSERT_NE(open(1, "held.txt", 3, 2), 0);
    EXPECT_EQ(write(1, "new"), 3);
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_EQ(line(1), "");
    file_close(1);
    os_file_close(other);
    EXPECT_EQ(content("held.txt"), "new");
}

} // namespace
} // namespace quillgate::testing
