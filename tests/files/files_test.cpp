// Sequential files against a model of their bytes and position, opening
// modes and slots, positions past 4 GiB, and failing I/O and memory.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "fuzz/reference.h"
#include "runtime/core/heap.h"
#include "runtime/files/convert.h"
#include "runtime/files/disk.h"
#include "tests/files/file_fixture.h"
#include "tests/support/results.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;

// Buffered and unbuffered: the buffered reader scans and copies whole
// stretches of its buffer, yet must give the same lines, ending at the same
// positions, as the unbuffered one that reads a unit per system call.
TEST_F(FileTest, WritesReadsSeeksAndCutsLikeTheModel) {
    // Zero bytes cannot be written as text: the read-line property lays files of any bytes.
    const char* const pieces[] = {"ab", "\r\n", "\r", "\n", "x y", "\r\r\n", "\xE9"};
    std::uint32_t state = 3;
    auto pick = [&state](std::uint32_t n) { return ((state = state * 1664525u + 1013904223u) >> 8) % n; };
    std::string bytes;
    std::size_t at = 0;
    auto read = [&](bool utf8, bool raw) {
        std::string expected = fuzz::reference_line(bytes, at, raw);
        if (utf8) expected = fuzz::reference_utf8_to_latin1(expected);
        ASSERT_EQ(line(1, (utf8 ? ENCODING_UTF8 : ENCODING_8BIT) | (raw ? ignore_line_ends : 0)), expected);
        ASSERT_EQ(file_position(1), static_cast<std::int64_t>(at));
    };
    for (int options : {FILE_OPTION_SHARE_READ, FILE_OPTION_SHARE_READ | FILE_OPTION_UNBUFFERED}) {
        bytes.clear(), at = 0;
        ASSERT_NE(open(1, "m.txt", FILE_MODE_CREATE, options), 0);
        for (int step = 0; step < 2000; ++step) {
            SCOPED_TRACE("options " + std::to_string(options) + " step " + std::to_string(step));
            std::uint32_t op = pick(9);
            if (op < 3) {
                int encoding = pick(3) == 0 ? ENCODING_UTF8 : pick(4) == 0 ? ENCODING_UTF16 : ENCODING_8BIT;
                std::string text; // UTF-16 is written from the system's code page: ASCII reads alike in all
                for (std::uint32_t n = pick(4) == 0 ? 900 + pick(3000) : pick(6); n > 0; --n)
                    text += pieces[pick(std::size(pieces) - (encoding == ENCODING_UTF16))];
                std::string encoded = encoding == ENCODING_UTF8    ? fuzz::reference_latin1_to_utf8(text)
                                      : encoding == ENCODING_UTF16 ? fuzz::widen(text)
                                                                   : text;
                ASSERT_EQ(write(1, text, encoding), static_cast<std::int32_t>(encoded.size()));
                bytes.replace(at, std::min(encoded.size(), bytes.size() - at), encoded);
                at += encoded.size();
            } else if (op < 6) {
                ASSERT_NO_FATAL_FAILURE(read(pick(2) == 0, pick(4) == 0));
            } else if (op == 6 && pick(3) == 0) { // cut where the reads and writes left it
                ASSERT_NE(file_truncate(1), 0);
                bytes.resize(at);
            } else if (op == 6) {
                at = pick(static_cast<std::uint32_t>(bytes.size() + 1));
                ASSERT_EQ(file_seek(1, static_cast<std::int64_t>(at)), at);
            } else if (op == 7) { // reopened, the file keeps its bytes and starts at 0
                file_close(1);
                ASSERT_EQ(content("m.txt"), bytes);
                ASSERT_NE(open(1, "m.txt", FILE_MODE_UPDATE, options), 0);
                at = 0;
            }
            ASSERT_EQ(file_position(1), static_cast<std::int64_t>(at));
        }
        file_close(1);
        EXPECT_EQ(content("m.txt"), bytes);
    }
}

TEST_F(FileTest, Utf16LinesEndOnWholeUnits) {
    for (int options : {FILE_OPTION_SHARE_READ, FILE_OPTION_SHARE_READ | FILE_OPTION_UNBUFFERED}) {
        // FF FE is not skipped; 0D 41 is one unit, not a CR; the odd last byte is no unit.
        file_close(1);
        lay("in.txt", "\xFF\xFE"s + "A\0\r\0\n\0B\0\r\0\x0D\x41\n\0D\0E"s);
        ASSERT_NE(open(1, "in.txt", FILE_MODE_READ, options), 0);
        EXPECT_TRUE(line(1, ENCODING_UTF16).ends_with("A"));
        EXPECT_EQ(line(1, ENCODING_UTF16), "B");
        EXPECT_EQ(line(1, ENCODING_UTF16).find('\r'), std::string::npos);
        EXPECT_EQ(file_position(1), 16);
        EXPECT_EQ(line(1, ENCODING_UTF16), "D");
        // An odd read-ahead splits the unit after a CR between two refills.
        file_close(1); // Windows lets nobody write a file held without write sharing
        std::string bytes = "\n";
        for (int unit = 0; unit < 2046; ++unit) bytes += "a\0"s;
        lay("in.txt", bytes + "\r\0X\0Y\0"s);
        ASSERT_NE(open(1, "in.txt", FILE_MODE_READ, options), 0);
        EXPECT_EQ(line(1), "");
        EXPECT_EQ(line(1, ENCODING_UTF16), std::string(2046, 'a'));
        EXPECT_EQ(file_position(1), 4095);
        EXPECT_EQ(line(1, ENCODING_UTF16), "XY");
    }
}

TEST_F(FileTest, ModesSlotsAndClosing) {
    EXPECT_EQ(open(1, "a.txt", FILE_MODE_READ, FILE_OPTION_SHARE_READ), 0) << "reading needs the file";
    lay("a.txt", "12345");
    ASSERT_NE(open(1, "a.txt", FILE_MODE_READ, 0), 0);
    EXPECT_EQ(write(1, "zz"), 0) << "a file opened to read cannot write, and says so";
    ASSERT_NE(open(1, "a.txt", FILE_MODE_UPDATE, FILE_OPTION_AT_END), 0) << "reopening the slot closes its file first";
    EXPECT_EQ(file_position(1), 5) << "FILE_OPTION_AT_END starts at the end";
    EXPECT_EQ(write(1, "6"), 1);
    ASSERT_NE(open(3, "b.txt", FILE_MODE_CREATE, FILE_OPTION_AT_END), 0);
    std::intptr_t dynamic = open(-1, "d.txt");
    EXPECT_EQ((results{write(3, "b"), write(dynamic, "d")}), (results{1, 1}));
    EXPECT_EQ(
        (results{open(1, "c.txt", 0, 0), open(1, "c.txt", 4, 0), open(-1, "no/such/folder.txt"), open(-2, "n.txt")}),
        (results{0, 0, 0, 0}));
    EXPECT_NE(record(1), nullptr) << "an unknown mode leaves the slot as it was";
    file_close(all_objects);
    EXPECT_EQ(content("a.txt") + content("b.txt") + content("d.txt"), "123456bd");
    ASSERT_NE(open(1, "a.txt", FILE_MODE_CREATE, 0), 0);
    EXPECT_EQ(write(1, "kept"), 4);
    EXPECT_EQ(open(1, "missing.txt", FILE_MODE_READ, 0), 0);
    EXPECT_EQ(content("a.txt"), "kept") << "a failed open there closes the old file";
    EXPECT_EQ(record(1), nullptr);
    for (object_id slot : {object_id{1}, object_id{7}}) {
        EXPECT_EQ(line(slot) + std::to_string(write(slot, "x")) + std::to_string(file_seek(slot, 0)), "00");
        EXPECT_EQ((results{file_position(slot), file_truncate(slot)}), (results{-1, 0}));
        file_close(slot);
    }
}

TEST_F(FileTest, PositionsBeyondFourGiB) {
    const std::int64_t far = (std::int64_t{5} << 30) + 7;
    for (int options : {0, FILE_OPTION_UNBUFFERED}) {
        ASSERT_NE(open(1, "sparse.bin", FILE_MODE_CREATE, options), 0);
        EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
        EXPECT_EQ(write(1, "Z\r\nQ"), 4);
        EXPECT_EQ(file_seek(1, far), static_cast<std::uint32_t>(far));
        EXPECT_EQ(line(1), "Z");
        EXPECT_EQ(file_position(1), far + 3);
        EXPECT_EQ(write(1, "R"), 1);
        EXPECT_NE(file_truncate(1), 0);
        EXPECT_EQ(file_position(1), far + 4);
        EXPECT_EQ(file_seek(1, -1), 0xFFFFFFFFu);
        file_close(1);
        EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path("sparse.bin"))), far + 4);
    }
}

// A session as the launcher has it on its state file, buffered and not, with
// I/O failing once or for good at every point in turn, then every
// allocation: no leak, no line but a part of the real one (a read error
// looks like the end), and truncation never cuts elsewhere.
TEST_F(FileTest, EveryFailurePointOfASession) {
    for (int options : {FILE_OPTION_SHARE_READ, FILE_OPTION_SHARE_READ | FILE_OPTION_UNBUFFERED}) {
        for (int fault : {0, 1, 2}) {
            for (long n = 0;; ++n) {
                lay("s.txt", "old\r\nrest of it");
                if (fault < 2) io_fail_after(n, fault == 1);
                else heap_fail_after(n);
                std::intptr_t id = open(-1, "s.txt", FILE_MODE_UPDATE, options);
                text first = file_read_line(id, ENCODING_UTF8);
                text second = file_read_line(id, ENCODING_UTF16);
                int cut = file_seek(id, 0) == 0 ? file_truncate(id) : 0;
                std::string after_cut = content("s.txt");
                write(id, "new \xE9", ENCODING_UTF8);
                write(id, "wide", ENCODING_UTF16);
                file_close(id);
                bool fired = fault < 2 ? io_fault_fired() : heap_fault_fired();
                io_fail_after(-1);
                heap_fail_after(-1);
                EXPECT_EQ(after_cut, cut ? "" : "old\r\nrest of it") << n;
                EXPECT_TRUE("old"s.starts_with(first.view())) << n;
                if (fired) continue;
                EXPECT_EQ(first, "old");
                EXPECT_EQ(content("s.txt"), "new \xC3\xA9w\0i\0d\0e\0"s);
                break;
            }
        }
    }
}

// UTF-8 by the standard table: an overlong form, a surrogate, a stray
// continuation byte and a sequence cut off by the end are each ill-formed
// parts, one "?" apiece; C0 80 is no zero that ends the text.
TEST_F(FileTest, IllFormedUtf8PartsBecomeOneQuestionMarkEach) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\xC3\xA9\xE2\x82\xACz", "a\xE9?z"},
        {"\xC0\x80x", "??x"},
        {"\xED\xA0\x80", "???"},
        {"\x80\xBF", "??"},
        {"\xE2\x82", "?"},
        {"\xE2\x82!", "?!"},
        {"a\0b"s, "a"},
    };
    for (const auto& [utf8, latin1] : cases) {
        SCOPED_TRACE(::testing::PrintToString(utf8));
        EXPECT_EQ(utf8_to_latin1(utf8.data(), utf8.size()).view(), latin1);
    }
}

TEST_F(FileTest, MissingMemory) {
    const std::string bytes = "abc\n" + std::string(5000, 'a') + "\nb";
    lay("in.txt", bytes);
    heap_fail_after(0);
    ASSERT_NE(open(1, "in.txt"), 0);
    EXPECT_EQ(record(1)->buffer, nullptr) << "opened unbuffered";
    text got = text::copy("old");
    heap_fail_after(0);
    EXPECT_FALSE(file_read_line_checked(1, ENCODING_8BIT, &got)) << "no working buffer: a failure, not an empty line";
    EXPECT_EQ(got, "old") << "and nothing read";
    EXPECT_EQ(line(1), "abc");
    heap_fail_after(1);
    EXPECT_EQ(line(1), std::string(4096, 'a')) << "a line that cannot grow comes in parts";
    EXPECT_EQ(line(1), std::string(904, 'a'));
    EXPECT_EQ(line(1), "b");
    EXPECT_TRUE(file_read_line_checked(1, ENCODING_8BIT, &got)) << "the end: nothing, and no failure";
    EXPECT_EQ(got, "");
    EXPECT_FALSE(file_read_line_checked(5, ENCODING_8BIT, &got)) << "no open file";
    heap_fail_after(0, true);
    EXPECT_TRUE(latin1_to_utf8("abc", 3).empty()) << "no memory";
    EXPECT_TRUE(ansi_to_utf16(nullptr).empty()) << "no input";
    heap_fail_after(-1);
    file_close(1);
    EXPECT_EQ(content("in.txt"), bytes);
}

} // namespace
} // namespace quillgate::testing
