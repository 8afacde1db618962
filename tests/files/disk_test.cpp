// The disk calls of the public API: each tells a failure from an empty
// result.
#include <filesystem>
#include <string>

#include "runtime/core/heap.h"
#include "runtime/files/disk.h"
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

TEST_F(FileTest, DiskCallsTellFailureFromNothing) {
    lay("empty.txt", "");
    lay("three.txt", "abc");
    file_facts facts{true, 7};
    ASSERT_TRUE(file_facts_of(path("missing").c_str(), &facts));
    EXPECT_TRUE(!facts.exists && facts.size == 0);
    ASSERT_TRUE(file_facts_of(path("three.txt").c_str(), &facts));
    EXPECT_TRUE(facts.exists && facts.size == 3);
    EXPECT_TRUE(path_exists(path("empty.txt").c_str()));
    EXPECT_FALSE(path_exists(path("missing").c_str()));

    text bytes = text::copy("old");
    ASSERT_TRUE(file_read_whole(path("missing").c_str(), 100, &bytes));
    EXPECT_TRUE(bytes.empty());
    ASSERT_TRUE(file_read_whole(path("three.txt").c_str(), 100, &bytes));
    EXPECT_EQ(bytes, "abc");
    ASSERT_TRUE(file_read_whole(path("three.txt").c_str(), 2, &bytes));
    EXPECT_TRUE(bytes.empty()) << "larger than the limit";
    heap_fail_after(0);
    bytes = text();
    EXPECT_FALSE(file_read_whole(path("three.txt").c_str(), 100, &bytes));
    heap_fail_after(-1);

    text names = text::copy("old");
    ASSERT_TRUE(folder_file_names(path("none/").c_str(), &names));
    EXPECT_TRUE(names.empty()) << "a missing folder has no files";
    ASSERT_TRUE(folder_file_names(path("").c_str(), &names));
    const std::string listed(names.view());
    EXPECT_EQ(listed.size(), sizeof "empty.txt" + sizeof "three.txt");
    EXPECT_NE(listed.find(std::string("three.txt", sizeof "three.txt")), std::string::npos);
    heap_fail_after(0);
    EXPECT_FALSE(folder_file_names(path("").c_str(), &names));
    heap_fail_after(-1);
}

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
