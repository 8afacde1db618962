// Writing, direction changes, positions, cutting, opening and closing.
#include <cstdint>
#include <string>

#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;

TEST_F(FileTest, WritesEachEncodingWithoutAdditions) {
    ASSERT_NE(open(1, "out.txt"), 0);
    EXPECT_EQ(write(1, "\xE9", ENCODING_UTF8), 2);
    EXPECT_EQ(write(1, "\xE9"), 1);
    EXPECT_EQ(write(1, "AB", ENCODING_UTF16), 4);
    EXPECT_EQ(file_write_text(1, nullptr, ENCODING_8BIT), 0);
    file_close(1);
    EXPECT_EQ(content("out.txt"), "\xC3\xA9\xE9"s + "A\0B\0"s);
}

TEST_F(FileTest, DirectionChangesKeepTheLogicalPosition) {
    // Reading after writing flushes the pending bytes first.
    lay("w.txt", "0123456789\nrest");
    ASSERT_NE(open(1, "w.txt"), 0);
    EXPECT_EQ(write(1, "ab"), 2);
    EXPECT_EQ(content("w.txt"), "0123456789\nrest");
    EXPECT_EQ(line(1), "23456789");
    EXPECT_EQ(content("w.txt"), "ab23456789\nrest");
    EXPECT_EQ(file_position(1), 11);

    // Writing after reading lands behind the line, not behind the read-ahead;
    // neither an empty text nor a failed turn changes the direction.
    lay("r.txt", "line1\nline2\nline3");
    ASSERT_NE(open(2, "r.txt"), 0);
    EXPECT_EQ(line(2), "line1");
    EXPECT_EQ(write(2, ""), 0);
    io_fail_after(0);
    EXPECT_EQ(write(2, "XX"), 0);
    EXPECT_EQ(record(2)->reading, 1);
    EXPECT_EQ(record(2)->available, 11);
    EXPECT_EQ(write(2, "XX"), 2);
    EXPECT_EQ(file_position(2), 8);
    EXPECT_EQ(line(2), "ne2");
    file_close(2);
    EXPECT_EQ(content("r.txt"), "line1\nXXne2\nline3");
}

TEST_F(FileTest, TruncateCutsAtTheLogicalPosition) {
    lay("cut.txt", "first\r\nsecond\r\nthird");
    ASSERT_NE(open(1, "cut.txt"), 0);
    EXPECT_EQ(line(1), "first");
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(content("cut.txt"), "first\r\n");
    EXPECT_EQ(line(1), "");

    EXPECT_EQ(write(1, "tail"), 4);
    EXPECT_EQ(file_seek(1, 2), 2u);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(content("cut.txt"), "fi");

    // As the state file is rewritten: back to the start after reading, cut, write.
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_EQ(line(1), "fi");
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(write(1, "D:\\kit\\"), 7);
    file_close(1);
    EXPECT_EQ(content("cut.txt"), "D:\\kit\\");
}

TEST_F(FileTest, WritesAtTheBufferBoundaries) {
    // A text larger than the free space goes straight through after the pending bytes.
    const std::string large(5000, 'L'), exact(4096, 'E');
    ASSERT_NE(open(1, "big.txt"), 0);
    EXPECT_EQ(write(1, "abc"), 3);
    EXPECT_EQ(write(1, large), 5000);
    EXPECT_EQ(content("big.txt"), "abc" + large);
    EXPECT_EQ(write(1, exact), 4096);
    EXPECT_EQ(content("big.txt"), "abc" + large + exact);

    // A text that would fill the free space exactly flushes first.
    const std::string head(4000, 'h'), rest(95, 's');
    ASSERT_NE(open(2, "fill.txt"), 0);
    EXPECT_EQ(write(2, head), 4000);
    EXPECT_EQ(write(2, rest), 95);
    EXPECT_EQ(content("fill.txt"), "");
    EXPECT_EQ(record(2)->available, 1);
    EXPECT_EQ(write(2, "x"), 1);
    EXPECT_EQ(content("fill.txt"), head + rest);
    EXPECT_EQ(record(2)->available, 4095);
    file_close(2);
    EXPECT_EQ(content("fill.txt"), head + rest + "x");
}

TEST_F(FileTest, UnbufferedFilesWriteAtOnce) {
    ASSERT_NE(open(1, "raw.txt", 2, 1 + 4), 0);
    EXPECT_EQ(record(1)->buffer, nullptr);
    EXPECT_EQ(write(1, "abc\r\ndef"), 8);
    EXPECT_EQ(content("raw.txt"), "abc\r\ndef");
    EXPECT_EQ(file_position(1), 8);
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_EQ(line(1), "abc");
    EXPECT_EQ(file_position(1), 5);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(content("raw.txt"), "abc\r\n");
}

TEST_F(FileTest, OpeningModes) {
    // Mode 1 needs an existing file and cannot write.
    EXPECT_EQ(open(1, "missing.txt", 1, 1), 0);
    lay("a.txt", "12345");
    ASSERT_NE(open(1, "a.txt", 1, 0), 0);
    write(1, "zz");
    file_close(1);
    EXPECT_EQ(content("a.txt"), "12345");

    // Mode 2 keeps the content, or makes the file; option 8 starts at the end.
    ASSERT_NE(open(1, "a.txt", 2, 8), 0);
    EXPECT_EQ(file_position(1), 5);
    EXPECT_EQ(write(1, "6"), 1);
    ASSERT_NE(open(2, "b.txt", 2, 0), 0);
    file_close(-1);
    EXPECT_EQ(content("a.txt"), "123456");
    EXPECT_TRUE(std::filesystem::exists(path("b.txt")));

    // Mode 3 empties; option 8 means nothing there.
    ASSERT_NE(open(1, "a.txt", 3, 8), 0);
    EXPECT_EQ(file_position(1), 0);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "");

    // Unknown modes fail without touching what the slot holds.
    ASSERT_NE(open(1, "a.txt"), 0);
    EXPECT_EQ(write(1, "kept"), 4);
    EXPECT_EQ(open(1, "c.txt", 0, 0), 0);
    EXPECT_EQ(open(1, "c.txt", 4, 0), 0);
    EXPECT_NE(record(1), nullptr);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "kept");
}

TEST_F(FileTest, ReopeningASlotClosesItsFileFirst) {
    ASSERT_NE(open(1, "a.txt"), 0);
    EXPECT_EQ(write(1, "pending"), 7);
    EXPECT_EQ(content("a.txt"), "");
    ASSERT_NE(open(1, "b.txt"), 0);
    EXPECT_EQ(content("a.txt"), "pending");

    // A failed open there leaves the slot empty, its old file closed.
    EXPECT_EQ(write(1, "also"), 4);
    EXPECT_EQ(open(1, "missing.txt", 1, 0), 0);
    EXPECT_EQ(record(1), nullptr);
    EXPECT_EQ(content("b.txt"), "also");
}

TEST_F(FileTest, ClosingEverythingFlushesNumberedAndDynamicFiles) {
    std::intptr_t dynamic = open(-1, "d.txt");
    ASSERT_NE(dynamic, 0);
    ASSERT_NE(open(2, "two.txt"), 0);
    ASSERT_NE(open(5, "five.txt"), 0);
    EXPECT_EQ(write(dynamic, "d"), 1);
    EXPECT_EQ(write(2, "2"), 1);
    EXPECT_EQ(write(5, "5"), 1);
    EXPECT_EQ(open(-1, "no/such/folder.txt"), 0);

    file_close(-1);
    EXPECT_EQ(content("d.txt") + content("two.txt") + content("five.txt"), "d25");
    EXPECT_EQ(record(2), nullptr);
    EXPECT_EQ(record(5), nullptr);
}

TEST_F(FileTest, SlotsWithoutAFileDoNothing) {
    ASSERT_NE(open(2, "closed.txt"), 0);
    file_close(2);
    EXPECT_EQ(open(3, "missing.txt", 1, 0), 0);
    for (object_id slot : {object_id{2}, object_id{3}, object_id{7}}) {
        EXPECT_EQ(line(slot), "");
        EXPECT_EQ(write(slot, "x"), 0);
        EXPECT_EQ(file_seek(slot, 0), 0u);
        EXPECT_EQ(file_position(slot), -1);
        EXPECT_EQ(file_truncate(slot), 0);
        file_close(slot);
    }
    EXPECT_EQ(open(-2, "negative.txt"), 0);
    EXPECT_EQ(content("closed.txt"), "");
}

TEST_F(FileTest, PositionsBeyondFourGiB) {
    const std::int64_t far = (std::int64_t{5} << 30) + 7;
    auto size = [&] { return static_cast<std::int64_t>(std::filesystem::file_size(path("sparse.bin"))); };
    ASSERT_NE(open(1, "sparse.bin", 3, 0), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(file_position(1), far);
    EXPECT_EQ(write(1, "Z\r\nQ"), 4);
    EXPECT_EQ(file_position(1), far + 4);
    file_close(1);
    EXPECT_EQ(size(), far + 4);

    // Read-ahead, give-back and the turn to writing all work past 4 GiB.
    ASSERT_NE(open(1, "sparse.bin", 2, 0), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(line(1), "Z");
    EXPECT_EQ(file_position(1), far + 3);
    EXPECT_EQ(write(1, "R"), 1);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(file_position(1), far + 4);
    file_close(1);
    EXPECT_EQ(size(), far + 4);

    // Unbuffered, the give-back is a move back past 4 GiB.
    ASSERT_NE(open(1, "sparse.bin", 1, 4), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(line(1), "Z");
    EXPECT_EQ(file_position(1), far + 3);
    EXPECT_EQ(file_seek(1, -1), 0xFFFFFFFFu);
}

} // namespace
} // namespace quillgate::testing
