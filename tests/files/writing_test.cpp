// Writing, direction changes, positions, cutting, opening and closing.
#include <cstdint>
#include <string>

#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;

TEST_F(FileTest, WritesEachEncodingWithoutAdditions) {
    ASSERT_NE(file_open(1, path("out.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, "\xE9", ENCODING_UTF8), 2);
    EXPECT_EQ(file_write_text(1, "\xE9", ENCODING_8BIT), 1);
    EXPECT_EQ(file_write_text(1, "AB", ENCODING_UTF16), 4);
    EXPECT_EQ(file_write_text(1, "", ENCODING_8BIT), 0);
    EXPECT_EQ(file_write_text(1, nullptr, ENCODING_8BIT), 0);
    file_close(1);
    EXPECT_EQ(content("out.txt"), "\xC3\xA9\xE9"
                                  "A\0B\0"s);
}

TEST_F(FileTest, EmptyTextLeavesTheDirectionAlone) {
    lay("in.txt", "one\ntwo\n");
    ASSERT_NE(file_open(1, path("in.txt").c_str()), 0);
    EXPECT_EQ(line(1), "one");
    EXPECT_EQ(file_write_text(1, "", ENCODING_8BIT), 0);
    EXPECT_EQ(record(1)->reading, 1);
    EXPECT_EQ(record(1)->available, 4);
}

TEST_F(FileTest, StateFileSequenceLeavesExactlyTheText) {
    lay("state.txt", "C:\\old\\place\\\r\nleftover");
    ASSERT_NE(file_open(1, path("state.txt").c_str()), 0);
    EXPECT_EQ(line(1), "C:\\old\\place\\");
    EXPECT_EQ(file_seek(1, 0), 0u);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(file_write_text(1, "D:\\kit\\", ENCODING_8BIT), 7);
    file_close(1);
    EXPECT_EQ(content("state.txt"), "D:\\kit\\");

    ASSERT_NE(file_open(1, path("state.txt").c_str()), 0);
    EXPECT_EQ(line(1), "D:\\kit\\");
}

TEST_F(FileTest, ReadingAfterWritingFlushesFirst) {
    lay("mix.txt", "0123456789\nrest");
    ASSERT_NE(file_open(1, path("mix.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, "ab", ENCODING_8BIT), 2);
    EXPECT_EQ(content("mix.txt"), "0123456789\nrest");
    EXPECT_EQ(line(1), "23456789");
    EXPECT_EQ(content("mix.txt"), "ab23456789\nrest");
    EXPECT_EQ(file_position(1), 11);
}

TEST_F(FileTest, WritingAfterReadingLandsAtTheLogicalPosition) {
    lay("mix.txt", "line1\nline2\nline3");
    ASSERT_NE(file_open(1, path("mix.txt").c_str()), 0);
    EXPECT_EQ(line(1), "line1");
    EXPECT_EQ(file_write_text(1, "XX", ENCODING_8BIT), 2);
    EXPECT_EQ(file_position(1), 8);
    EXPECT_EQ(line(1), "ne2");
    file_close(1);
    EXPECT_EQ(content("mix.txt"), "line1\nXXne2\nline3");
}

TEST_F(FileTest, PositionCountsPendingBytesAndReadAhead) {
    lay("pos.txt", std::string(100, '.') + "abc\ndef");
    ASSERT_NE(file_open(1, path("pos.txt").c_str()), 0);
    EXPECT_EQ(file_seek(1, 100), 100u);
    EXPECT_EQ(line(1), "abc");
    EXPECT_EQ(record(1)->available, 3);
    EXPECT_EQ(file_position(1), 104);

    EXPECT_EQ(file_seek(1, 100), 100u);
    EXPECT_EQ(file_write_text(1, "0123456789", ENCODING_8BIT), 10);
    EXPECT_EQ(record(1)->reading, 0);
    EXPECT_EQ(file_position(1), 110);
}

TEST_F(FileTest, TruncateCutsAtTheLogicalPosition) {
    lay("cut.txt", "first\r\nsecond\r\nthird");
    ASSERT_NE(file_open(1, path("cut.txt").c_str()), 0);
    EXPECT_EQ(line(1), "first");
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(content("cut.txt"), "first\r\n");
    EXPECT_EQ(line(1), "");

    EXPECT_EQ(file_write_text(1, "tail", ENCODING_8BIT), 4);
    EXPECT_EQ(file_seek(1, 2), 2u);
    EXPECT_NE(file_truncate(1), 0);
    file_close(1);
    EXPECT_EQ(content("cut.txt"), "fi");
}

TEST_F(FileTest, LargeWritesGoStraightThrough) {
    std::string large(5000, 'L');
    ASSERT_NE(file_open(1, path("big.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, "abc", ENCODING_8BIT), 3);
    EXPECT_EQ(file_write_text(1, large.c_str(), ENCODING_8BIT), 5000);
    EXPECT_EQ(content("big.txt"), "abc" + large);
    EXPECT_EQ(record(1)->available, 4096);

    std::string exact(4096, 'E');
    EXPECT_EQ(file_write_text(1, exact.c_str(), ENCODING_8BIT), 4096);
    EXPECT_EQ(content("big.txt").size(), 3u + 5000u + 4096u);
}

TEST_F(FileTest, TextFillingTheFreeSpaceFlushesFirst) {
    std::string head(4000, 'h');
    ASSERT_NE(file_open(1, path("fill.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, head.c_str(), ENCODING_8BIT), 4000);
    EXPECT_EQ(record(1)->available, 96);
    EXPECT_EQ(file_write_text(1, std::string(95, 's').c_str(), ENCODING_8BIT), 95);
    EXPECT_EQ(content("fill.txt"), "");
    EXPECT_EQ(record(1)->available, 1);

    EXPECT_EQ(file_write_text(1, "x", ENCODING_8BIT), 1);
    EXPECT_EQ(content("fill.txt"), head + std::string(95, 's'));
    EXPECT_EQ(record(1)->available, 4095);
    file_close(1);
    EXPECT_EQ(content("fill.txt"), head + std::string(95, 's') + "x");
}

TEST_F(FileTest, UnbufferedFilesWriteAtOnce) {
    ASSERT_NE(file_open_with_mode(1, path("raw.txt").c_str(), 2, 1 + 4), 0);
    EXPECT_EQ(record(1)->buffer, nullptr);
    EXPECT_EQ(record(1)->buffer_size, default_file_buffer_size);
    EXPECT_EQ(file_write_text(1, "abc\r\ndef", ENCODING_8BIT), 8);
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
    EXPECT_EQ(file_open_with_mode(1, path("missing.txt").c_str(), 1, 1), 0);
    EXPECT_EQ(record(1), nullptr);
    lay("a.txt", "12345");
    ASSERT_NE(file_open_with_mode(1, path("a.txt").c_str(), 1, 0), 0);
    EXPECT_EQ(file_write_text(1, "zz", ENCODING_8BIT), 2);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "12345");

    // Mode 2 keeps the content; option 8 starts at the end.
    ASSERT_NE(file_open_with_mode(1, path("a.txt").c_str(), 2, 8), 0);
    EXPECT_EQ(file_position(1), 5);
    EXPECT_EQ(file_write_text(1, "6", ENCODING_8BIT), 1);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "123456");
    ASSERT_NE(file_open_with_mode(1, path("b.txt").c_str(), 2, 0), 0);
    file_close(1);
    EXPECT_EQ(content("b.txt"), "");

    // Mode 3 empties; option 8 means nothing there.
    ASSERT_NE(file_open_with_mode(1, path("a.txt").c_str(), 3, 8), 0);
    EXPECT_EQ(file_position(1), 0);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "");

    // Unknown modes fail without touching what the slot holds.
    ASSERT_NE(file_open(1, path("a.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, "kept", ENCODING_8BIT), 4);
    EXPECT_EQ(file_open_with_mode(1, path("c.txt").c_str(), 0, 0), 0);
    EXPECT_EQ(file_open_with_mode(1, path("c.txt").c_str(), 4, 0), 0);
    EXPECT_NE(record(1), nullptr);
    file_close(1);
    EXPECT_EQ(content("a.txt"), "kept");
}

TEST_F(FileTest, ReopeningASlotClosesItsFileFirst) {
    ASSERT_NE(file_open(1, path("a.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(1, "pending", ENCODING_8BIT), 7);
    EXPECT_EQ(content("a.txt"), "");
    ASSERT_NE(file_open(1, path("b.txt").c_str()), 0);
    EXPECT_EQ(content("a.txt"), "pending");

    // A failed open there leaves the slot empty, its old file closed.
    EXPECT_EQ(file_write_text(1, "also", ENCODING_8BIT), 4);
    EXPECT_EQ(file_open_with_mode(1, path("missing.txt").c_str(), 1, 0), 0);
    EXPECT_EQ(record(1), nullptr);
    EXPECT_EQ(content("b.txt"), "also");
}

TEST_F(FileTest, DynamicFilesAndClosingEverything) {
    std::intptr_t dynamic = file_open(-1, path("d.txt").c_str());
    ASSERT_NE(dynamic, 0);
    ASSERT_NE(file_open(2, path("two.txt").c_str()), 0);
    ASSERT_NE(file_open(5, path("five.txt").c_str()), 0);
    EXPECT_EQ(file_write_text(dynamic, "d", ENCODING_8BIT), 1);
    EXPECT_EQ(file_write_text(2, "2", ENCODING_8BIT), 1);
    EXPECT_EQ(file_write_text(5, "5", ENCODING_8BIT), 1);
    EXPECT_EQ(file_open(-1, path("no/such/folder.txt").c_str()), 0);

    file_close(-1);
    EXPECT_EQ(content("d.txt"), "d");
    EXPECT_EQ(content("two.txt"), "2");
    EXPECT_EQ(content("five.txt"), "5");
    EXPECT_EQ(record(2), nullptr);
    EXPECT_EQ(record(5), nullptr);
}

TEST_F(FileTest, SlotsWithoutAFileDoNothing) {
    ASSERT_NE(file_open(2, path("closed.txt").c_str()), 0);
    file_close(2);
    EXPECT_EQ(file_open_with_mode(3, path("missing.txt").c_str(), 1, 0), 0);
    for (object_id slot : {object_id{2}, object_id{3}, object_id{7}}) {
        EXPECT_EQ(line(slot), "");
        EXPECT_EQ(file_write_text(slot, "x", ENCODING_8BIT), 0);
        EXPECT_EQ(file_seek(slot, 0), 0u);
        EXPECT_EQ(file_position(slot), -1);
        EXPECT_EQ(file_truncate(slot), 0);
        file_close(slot);
    }
    EXPECT_EQ(file_open(-2, path("negative.txt").c_str()), 0);
    EXPECT_EQ(content("closed.txt"), "");
}

TEST_F(FileTest, PositionsBeyondFourGiB) {
    const std::int64_t far = (std::int64_t{5} << 30) + 7;
    ASSERT_NE(file_open_with_mode(1, path("sparse.bin").c_str(), 3, 0), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(file_position(1), far);
    EXPECT_EQ(file_write_text(1, "Z\r\nQ", ENCODING_8BIT), 4);
    EXPECT_EQ(file_position(1), far + 4);
    file_close(1);
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path("sparse.bin"))), far + 4);

    // Read-ahead, give-back and the turn to writing all work past 4 GiB.
    ASSERT_NE(file_open_with_mode(1, path("sparse.bin").c_str(), 2, 0), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(line(1), "Z");
    EXPECT_EQ(file_position(1), far + 3);
    EXPECT_EQ(file_write_text(1, "R", ENCODING_8BIT), 1);
    EXPECT_NE(file_truncate(1), 0);
    EXPECT_EQ(file_position(1), far + 4);
    file_close(1);
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path("sparse.bin"))), far + 4);

    ASSERT_NE(file_open_with_mode(1, path("sparse.bin").c_str(), 1, 4), 0);
    EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
    EXPECT_EQ(line(1), "Z");
    EXPECT_EQ(line(1), "R");
    EXPECT_EQ(file_position(1), far + 4);
    EXPECT_EQ(file_seek(1, -1), 0xFFFFFFFFu);
}

} // namespace
} // namespace quillgate::testing
