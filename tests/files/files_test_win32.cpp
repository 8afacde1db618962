// Share modes on Windows: what a second handle may do while a file is open,
// and the write-only fallback of FILE_MODE_CREATE.
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using Sharing = FileTest;

TEST_F(Sharing, ShareOptionsDecideWhatASecondHandleMayDo) {
    lay("s.txt", "x");
    // Held by slot 1 with the options given, may a second handle open it (mode, options)?
    const struct {
        int options, mode, second;
        bool allowed;
    } cases[] = {
        {0, FILE_MODE_READ, FILE_OPTION_SHARE_READ, false},
        {0, FILE_MODE_UPDATE, FILE_OPTION_SHARE_WRITE, false},
        {FILE_OPTION_SHARE_READ, FILE_MODE_UPDATE, FILE_OPTION_SHARE_WRITE, false},
        {FILE_OPTION_SHARE_READ, FILE_MODE_READ, FILE_OPTION_SHARE_READ, false},
        {FILE_OPTION_SHARE_WRITE, FILE_MODE_UPDATE, FILE_OPTION_SHARE_WRITE, true},
    };
    for (const auto& c : cases) {
        ASSERT_NE(open(1, "s.txt", FILE_MODE_UPDATE, c.options), 0);
        EXPECT_EQ(open(2, "s.txt", c.mode, c.second) != 0, c.allowed) << c.options << " " << c.mode << " " << c.second;
        file_close(all_objects);
    }
    ASSERT_NE(open(1, "s.txt"), 0);
    EXPECT_EQ(content("s.txt"), "x") << "FILE_OPTION_SHARE_READ lets others read";
    file_close(1);

    // Another handle that writes and lets others only write: the reading and
    // writing open of FILE_MODE_CREATE fails, the write-only fallback gets in.
    os_handle other =
        os_file_open(path("s.txt").c_str(), OS_GENERIC_WRITE, OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
    ASSERT_NE(other, 0);
    ASSERT_NE(open(1, "s.txt", FILE_MODE_CREATE, FILE_OPTION_SHARE_WRITE), 0);
    EXPECT_EQ(write(1, "new"), 3);
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_EQ(line(1), "") << "write-only";
    file_close(1);
    os_file_close(other);
    EXPECT_EQ(content("s.txt"), "new");
}

} // namespace
} // namespace quillgate::testing
