// Failing I/O and failing allocations: the failure results, no corruption
// that the results hide, and no leaks.
#include <cstdint>
#include <string>

#include "runtime/core/heap.h"
#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using FileFaults = FileTest;

TEST_F(FileFaults, ReadErrorsLookLikeTheEnd) {
    lay("in.txt", "abc\ndef");
    ASSERT_NE(open(1, "in.txt"), 0);
    io_fail_after(0);
    EXPECT_EQ(line(1), "");
    EXPECT_TRUE(io_fault_fired());
    EXPECT_EQ(line(1), "abc");

    // Unbuffered: the line so far is kept, the rest comes next.
    file_close(1);
    ASSERT_NE(open(2, "in.txt", 1, 4), 0);
    io_fail_after(2);
    EXPECT_EQ(line(2), "ab");
    EXPECT_EQ(line(2), "c");
}

TEST_F(FileFaults, FailedTransfersAndMoves) {
    ASSERT_NE(open(1, "raw.txt", 2, 4), 0);
    io_fail_after(0);
    EXPECT_EQ(write(1, "lost"), 0);
    EXPECT_EQ(content("raw.txt"), "");

    ASSERT_NE(open(2, "buffered.txt"), 0);
    EXPECT_EQ(write(2, "pending"), 7);
    // The flush before the move fails: the pending bytes are dropped.
    io_fail_after(0);
    EXPECT_EQ(file_seek(2, 3), 3u);
    EXPECT_EQ(record(2)->reading, 1);
    EXPECT_EQ(record(2)->available, 0);
    io_fail_after(0);
    EXPECT_EQ(file_seek(2, 3), 0xFFFFFFFFu);
    io_fail_after(0);
    EXPECT_EQ(file_position(2), -1);
    file_close(2);
    EXPECT_EQ(content("buffered.txt"), "");
}

TEST_F(FileFaults, TruncateFailsRatherThanCutElsewhere) {
    for (long n = 0;; ++n) {
        lay("cut.txt", "first\nsecond\n");
        ASSERT_NE(open(1, "cut.txt"), 0);
        EXPECT_EQ(line(1), "first");
        io_fail_after(n);
        int cut = file_truncate(1);
        bool fired = io_fault_fired();
        io_fail_after(-1);
        file_close(1);
        if (!fired) {
            EXPECT_NE(cut, 0);
            EXPECT_EQ(content("cut.txt"), "first\n");
            break;
        }
        EXPECT_EQ(cut, 0) << n;
        EXPECT_EQ(content("cut.txt"), "first\nsecond\n") << n;
    }
}

TEST_F(FileFaults, EveryIoFailurePointOfASessionLeaksNothing) {
    for (bool persistent : {false, true}) {
        for (long n = 0;; ++n) {
            lay("s.txt", "old\r\nrest of it");
            io_fail_after(n, persistent);
            std::intptr_t id = open(-1, "s.txt");
            ASSERT_NE(id, 0);
            text first = file_read_line(id, ENCODING_UTF8);
            file_seek(id, 0);
            file_truncate(id);
            write(id, "new \xE9", ENCODING_UTF8);
            write(id, "wide", ENCODING_UTF16);
            file_position(id);
            file_close(id);
            bool fired = io_fault_fired();
            io_fail_after(-1);
            if (!fired) {
                EXPECT_EQ(first, "old");
                EXPECT_EQ(content("s.txt"), std::string("new \xC3\xA9w\0i\0d\0e\0", 14));
                break;
            }
        }
    }
}

TEST_F(FileFaults, MissingMemory) {
    const std::string bytes = "abc\n" + std::string(5000, 'a') + "\nb";
    lay("in.txt", bytes);
    // Without a transfer buffer the file is opened unbuffered.
    heap_fail_after(0);
    ASSERT_NE(open(1, "in.txt"), 0);
    EXPECT_EQ(record(1)->buffer, nullptr);
    // Without a working buffer nothing is read.
    heap_fail_after(0);
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(file_position(1), 0);
    EXPECT_EQ(line(1), "abc");
    // A line that cannot grow comes in parts; nothing is lost.
    heap_fail_after(1);
    EXPECT_EQ(line(1), std::string(4096, 'a'));
    EXPECT_EQ(line(1), std::string(904, 'a'));
    EXPECT_EQ(line(1), "b");

    heap_fail_after(0, true);
    EXPECT_EQ(open(-1, "in.txt"), 0);
    EXPECT_EQ(write(1, "x", ENCODING_UTF8), 0);
    EXPECT_EQ(write(1, "x", ENCODING_UTF16), 0);
    heap_fail_after(-1);
    file_close(1);
    EXPECT_EQ(content("in.txt"), bytes);
}

TEST_F(FileFaults, EveryAllocationFailurePointLeaksNothing) {
    for (long n = 0;; ++n) {
        lay("h.txt", std::string("a\0b\0\r\0\n\0", 8));
        heap_fail_after(n);
        std::intptr_t id = open(-1, "h.txt");
        text got = file_read_line(id, ENCODING_UTF16);
        write(id, "\xE9", ENCODING_UTF8);
        write(id, "z", ENCODING_UTF16);
        file_close(id);
        bool fired = heap_fault_fired();
        heap_fail_after(-1);
        if (!fired) {
            EXPECT_EQ(got, "ab");
            EXPECT_EQ(content("h.txt"), std::string("a\0b\0\r\0\n\0\xC3\xA9z\0", 12));
            break;
        }
    }
}

} // namespace
} // namespace quillgate::testing
