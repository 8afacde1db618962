// Share modes have no mandatory equivalent on POSIX: the file primitives
// ignore them, so every open file stays open to other handles.
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using Sharing = FileTest;

TEST_F(Sharing, WithoutOption1NoSecondHandle) { GTEST_SKIP() << "POSIX has no mandatory share modes"; }

TEST_F(Sharing, ShareModesAreNotEnforced) {
    ASSERT_NE(file_open_with_mode(1, path("s.txt").c_str(), 2, 0), 0);
    ASSERT_NE(file_open_with_mode(2, path("s.txt").c_str(), 2, 0), 0);
    EXPECT_EQ(file_write_text(1, "one", ENCODING_8BIT), 3);
    file_close(1);
    EXPECT_EQ(file_seek(2, 3), 3u);
    EXPECT_EQ(file_write_text(2, "two", ENCODING_8BIT), 3);
    file_close(2);
    EXPECT_EQ(content("s.txt"), "onetwo");
}

TEST_F(Sharing, Mode3FallsBackToTruncatingAWriteOnlyFile) {
    lay("locked.txt", "old content");
    std::filesystem::permissions(path("locked.txt"), std::filesystem::perms::owner_write);
    if (file_open_with_mode(1, path("locked.txt").c_str(), 1, 0) != 0) {
        GTEST_SKIP() << "permissions do not bind this user";
    }
    ASSERT_NE(file_open_with_mode(1, path("locked.txt").c_str(), 3, 0), 0);
    EXPECT_EQ(file_write_text(1, "new", ENCODING_8BIT), 3);
    file_close(1);
    std::filesystem::permissions(path("locked.txt"), std::filesystem::perms::owner_all);
    EXPECT_EQ(content("locked.txt"), "new");
}

} // namespace
} // namespace quillgate::testing
