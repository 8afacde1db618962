// Line reading: line ends, zero units, long lines, encodings, and the
// give-back of the unit after a lone CR on buffered and unbuffered files.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/files/file_fixture.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;

class LineReading : public FileTest, public ::testing::WithParamInterface<bool> {
protected:
    // Opens for reading, with or without a transfer buffer.
    void open_bytes(const std::string& bytes) {
        file_close(1);
        lay("in.txt", bytes);
        ASSERT_NE(open(1, "in.txt", 1, GetParam() ? 1 : 1 + 4), 0);
        ASSERT_EQ(record(1)->buffer != nullptr, GetParam());
    }
};

constexpr std::int64_t any = -1;

struct expected_line {
    std::string text;
    std::int64_t position = any; // the file position after the line
};

struct read_case {
    std::string bytes;
    std::vector<expected_line> lines;
    int flags = ENCODING_8BIT;
};

TEST_P(LineReading, LinesAndPositions) {
    const std::string a4095(4095, 'a'), e4096(4096, 'e'), l10000(10000, 'l');
    const read_case cases[] = {
        {"ABC\r\nD", {{"ABC", 5}, {"D"}, {""}}},
        {"ABC\n", {{"ABC", 4}}},
        {"ABC\rDEF", {{"ABC", 4}, {"DEF"}}},
        {"\r\n\r\n", {{"", 2}, {"", 4}}},
        {"", {{""}, {""}}},
        {"ABC", {{"ABC"}, {""}}},
        {"ABC\r", {{"ABC", 4}, {""}}}, // nothing follows the CR, so nothing is given back
        {"AB\0CD"s, {{"AB", 3}, {"CD"}}},
        {"A\r\nB\rC\nD\0E\r"s, {{"A\r\nB\rC\nD"}, {"E\r"}}, ENCODING_8BIT + ignore_line_ends},
        // CR LF split by the buffer end; then a lone CR as byte 4096, whose
        // following unit comes from the next refill.
        {a4095 + "\r\nXYZ", {{a4095, 4097}, {"XYZ"}}},
        {a4095 + "\rXYZ", {{a4095, 4096}, {"XYZ"}}},
        {e4096 + "\n" + l10000 + "\r\nend", {{e4096}, {l10000}, {"end"}}},
        {"\xC3\xA9\r\n\xE2\x82\xAC\xA9Z\n\xC3"s, {{"\xE9"}, {"?Z"}, {"", 11}}, ENCODING_UTF8},
    };
    for (const read_case& test : cases) {
        SCOPED_TRACE(::testing::PrintToString(test.bytes.substr(0, 16)));
        open_bytes(test.bytes);
        for (const expected_line& expected : test.lines) {
            EXPECT_EQ(line(1, test.flags), expected.text);
            if (expected.position != any) {
                EXPECT_EQ(file_position(1), expected.position);
            }
        }
    }
}

TEST_P(LineReading, Utf16RecognisesLineEndsOnWholeUnits) {
    // FF FE is not skipped; 0D 41 is one unit, not a CR.
    open_bytes("\xFF\xFE"s + "A\0\r\0\n\0B\0\r\0\x0D\x41\n\0D\0E"s);
    std::string marked = line(1, ENCODING_UTF16);
    ASSERT_GE(marked.size(), 2u);
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
    open_bytes(bytes + "\r\0X\0Y\0"s);
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
