// The checked line read tells a failure from an empty line; the other disk
// calls are walked through their failures by the launcher's fault loops.
#include "runtime/core/heap.h"
#include "runtime/files/disk.h"
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

TEST_F(FileTest, CheckedLineReadTellsAnEmptyLineFromAFailedRead) {
    lay("lines.txt", "\nab\n");
    ASSERT_NE(open(1, "lines.txt", FILE_MODE_READ, FILE_OPTION_SHARE_READ), 0);
    text line = text::copy("old");
    ASSERT_TRUE(file_read_line_checked(1, ENCODING_8BIT, &line));
    EXPECT_TRUE(line.empty()) << "an empty line";
    heap_fail_after(0);
    EXPECT_FALSE(file_read_line_checked(1, ENCODING_8BIT, &line)) << "memory short";
    heap_fail_after(-1);
    ASSERT_TRUE(file_read_line_checked(1, ENCODING_8BIT, &line));
    EXPECT_EQ(line, "ab");
    ASSERT_TRUE(file_read_line_checked(1, ENCODING_8BIT, &line));
    EXPECT_TRUE(line.empty()) << "the end of the file";
    EXPECT_FALSE(file_read_line_checked(5, ENCODING_8BIT, &line)) << "no open file";
}

} // namespace
} // namespace quillgate::testing
