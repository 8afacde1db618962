// Share modes on Windows: what a second handle may do while a file is open.
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using Sharing = FileTest;

TEST_F(Sharing, WithoutOption1NoSecondHandle) {
    lay("s.txt", "x");
    ASSERT_NE(file_open_with_mode(1, path("s.txt").c_str(), 2, 0), 0);
    EXPECT_EQ(file_open_with_mode(2, path("s.txt").c_str(), 1, 1), 0);
    EXPECT_EQ(file_open_with_mode(2, path("s.txt").c_str(), 2, 2), 0);
    file_close(1);
    EXPECT_NE(file_open_with_mode(2, path("s.txt").c_str(), 1, 1), 0);
}

TEST_F(Sharing, Option1LetsOthersReadOnly) {
    lay("s.txt", "x");
    ASSERT_NE(file_open(1, path("s.txt").c_str()), 0);
    // A reader that lets others write gets in; a second writer does not.
    EXPECT_EQ(content("s.txt"), "x");
    EXPECT_EQ(file_open_with_mode(3, path("s.txt").c_str(), 2, 2), 0);
    EXPECT_EQ(file_open_with_mode(3, path("s.txt").c_str(), 1, 1), 0);
}

TEST_F(Sharing, Option2LetsBothWrite) {
    ASSERT_NE(file_open_with_mode(1, path("s.txt").c_str(), 2, 2), 0);
    ASSERT_NE(file_open_with_mode(2, path("s.txt").c_str(), 2, 2), 0);
    EXPECT_EQ(file_write_text(1, "one", ENCODING_8BIT), 3);
    file_close(1);
    EXPECT_EQ(file_seek(2, 3), 3u);
    EXPECT_EQ(file_write_text(2, "two", ENCODING_8BIT), 3);
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
    ASSERT_NE(file_open_with_mode(1, path("held.txt").c_str(), 3, 2), 0);
    EXPECT_EQ(file_write_text(1, "new", ENCODING_8BIT), 3);
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_EQ(line(1), "");
    file_close(1);
    os_file_close(other);
    EXPECT_EQ(content("held.txt"), "new");
}

} // namespace
} // namespace quillgate::testing
