// Line reading: line ends, zero units, long lines, encodings, and the
// give-back of the unit after a lone CR on buffered and unbuffered files.
#include <string>

#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;

class LineReading : public FileTest, public ::testing::WithParamInterface<bool> {
protected:
    // Opens for reading, with or without a transfer buffer.
    void open(const std::string& bytes) {
        file_close(1);
        lay("in.txt", bytes);
        ASSERT_NE(file_open_with_mode(1, path("in.txt").c_str(), 1, GetParam() ? 1 : 1 + 4), 0);
        ASSERT_EQ(record(1)->buffer != nullptr, GetParam());
    }
};

TEST_P(LineReading, EndsAtEachKindOfLineEnd) {
    open("ABC\r\nD");
    EXPECT_EQ(line(1), "ABC");
    EXPECT_EQ(file_position(1), 5);
    EXPECT_EQ(line(1), "D");
    EXPECT_EQ(line(1), "");

    open("ABC\n");
    EXPECT_EQ(line(1), "ABC");
    EXPECT_EQ(file_position(1), 4);

    open("ABC\rDEF");
    EXPECT_EQ(line(1), "ABC");
    EXPECT_EQ(file_position(1), 4);
    EXPECT_EQ(line(1), "DEF");

    open("\r\n\r\n");
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(file_position(1), 2);
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(file_position(1), 4);
}

TEST_P(LineReading, EndOfFileEndsTheLastLine) {
    open("");
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(line(1), "");

    open("ABC");
    EXPECT_EQ(line(1), "ABC");
    EXPECT_EQ(line(1), "");

    // Nothing follows the CR, so nothing is given back.
    open("ABC\r");
    EXPECT_EQ(line(1), "ABC");
    EXPECT_EQ(file_position(1), 4);
    EXPECT_EQ(line(1), "");
}

TEST_P(LineReading, ZeroByteEndsTheLineAndIsConsumed) {
    open("AB\0CD"s);
    EXPECT_EQ(line(1), "AB");
    EXPECT_EQ(file_position(1), 3);
    EXPECT_EQ(line(1), "CD");
}

TEST_P(LineReading, IgnoringLineEndsRunsToZeroOrEnd) {
    open("A\r\nB\rC\nD\0E\r"s);
    EXPECT_EQ(line(1, ENCODING_8BIT + ignore_line_ends), "A\r\nB\rC\nD");
    EXPECT_EQ(line(1, ENCODING_8BIT + ignore_line_ends), "E\r");
}

TEST_P(LineReading, CrLfAcrossTheBufferBoundaryIsOneLineEnd) {
    std::string first(4095, 'a');
    open(first + "\r\nXYZ");
    EXPECT_EQ(line(1), first);
    EXPECT_EQ(file_position(1), 4097);
    EXPECT_EQ(line(1), "XYZ");

    // A lone CR as byte 4096: the unit after it comes from the next refill
    // and must still be the first of the next line.
    open(first + "\rXYZ");
    EXPECT_EQ(line(1), first);
    EXPECT_EQ(file_position(1), 4096);
    EXPECT_EQ(line(1), "XYZ");
}

TEST_P(LineReading, LinesLongerThanTheWorkingBuffer) {
    std::string exact(4096, 'e');
    std::string longer(10000, 'l');
    open(exact + "\n" + longer + "\r\nend");
    EXPECT_EQ(line(1), exact);
    EXPECT_EQ(line(1), longer);
    EXPECT_EQ(line(1), "end");
}

TEST_P(LineReading, Utf8BecomesLatin1) {
    open("\xC3\xA9\r\n\xE2\x82\xAC\xA9Z\n\xC3"s);
    EXPECT_EQ(line(1, ENCODING_UTF8), "\xE9");
    EXPECT_EQ(line(1, ENCODING_UTF8), "?Z");
    EXPECT_EQ(line(1, ENCODING_UTF8), "");
    EXPECT_EQ(file_position(1), 11);
}

TEST_P(LineReading, Utf16RecognisesLineEndsOnWholeUnits) {
    // FF FE is not skipped; 0D 41 is one unit, not a CR.
    open("\xFF\xFE"
         "A\0\r\0\n\0B\0\r\0\x0D\x41\n\0D\0E"s);
    std::string marked = line(1, ENCODING_UTF16);
    ASSERT_GE(marked.size(), 2u);
    EXPECT_NE(marked, "A");
    EXPECT_EQ(marked.back(), 'A');
    EXPECT_EQ(file_position(1), 8);
    EXPECT_EQ(line(1, ENCODING_UTF16), "B");
    std::string odd = line(1, ENCODING_UTF16);
    EXPECT_FALSE(odd.empty());
    EXPECT_EQ(odd.find('\r'), std::string::npos);
    EXPECT_EQ(file_position(1), 16);
    // The last byte of the file is no whole unit.
    EXPECT_EQ(line(1, ENCODING_UTF16), "D");
    EXPECT_EQ(line(1, ENCODING_UTF16), "");
}

TEST_P(LineReading, Utf16GiveBackAcrossARefill) {
    // An 8-bit line of one byte leaves an odd read-ahead, so the UTF-16 unit
    // after the CR at 4093 is split between two refills.
    std::string bytes = "\n";
    for (int unit = 0; unit < 2046; ++unit) bytes += "a\0"s;
    bytes += "\r\0X\0Y\0"s;
    open(bytes);
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(line(1, ENCODING_UTF16), std::string(2046, 'a'));
    EXPECT_EQ(file_position(1), 4095);
    EXPECT_EQ(line(1, ENCODING_UTF16), "XY");
}

INSTANTIATE_TEST_SUITE_P(Files, LineReading, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Buffered" : "Unbuffered";
});

} // namespace
} // namespace quillgate::testing
