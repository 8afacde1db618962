// Share modes have no mandatory equivalent on POSIX: the file primitives
// ignore them, so every open file stays open to other handles.
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using Sharing = FileTest;

TEST_F(Sharing, ShareModesAreNotEnforced) {
    ASSERT_NE(open(1, "s.txt", 2, 0), 0);
    ASSERT_NE(open(2, "s.txt", 2, 0), 0);
    EXPECT_EQ(write(1, "one"), 3);
    file_close(1);
    EXPECT_EQ(file_seek(2, 3), 3u);
    EXPECT_EQ(write(2, "two"), 3);
    file_close(2);
    EXPECT_EQ(content("s.txt"), "onetwo");
}

TEST_F(Sharing, Mode3FallsBackToTruncatingAWriteOnlyFile) {
    lay("locked.txt", "old content");
    std::filesystem::permissions(path("locked.txt"), std::filesystem::perms::owner_write);
    if (open(1, "locked.txt", 1, 0) != 0) GTEST_SKIP() << "permissions do not bind this user";
    ASSERT_NE(open(1, "locked.txt", 3, 0), 0);
    EXPECT_EQ(write(1, "new"), 3);
    file_close(1);
    std::filesystem::permissions(path("locked.txt"), std::filesystem::perms::owner_all);
    EXPECT_EQ(content("locked.txt"), "new");
}

} // namespace
} // namespace quillgate::testing
