// The text conversions, byte for byte.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/files/convert.h"
#include "tests/support/heap_check.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;
using Conversions = HeapChecked;

std::string latin1(const std::string& utf8) { return std::string(utf8_to_latin1(utf8.data(), utf8.size()).view()); }

TEST_F(Conversions, Utf8ToLatin1ConsumptionRules) {
    EXPECT_EQ(latin1("plain"), "plain");
    EXPECT_EQ(latin1("\xC3\xA9"), "\xE9");
    EXPECT_EQ(latin1("\xC1\xBF"), "\x7F");
    EXPECT_EQ(latin1("\xC4\x80"), "?"); // above Latin-1
    EXPECT_EQ(latin1("\xC3"
                     "A"),
              "?A");                 // no continuation: only the lead goes
    EXPECT_EQ(latin1("A\xC3"), "A"); // lead without a follower
    EXPECT_EQ(latin1("\xE2\x82\xAC!"), "?!");
    EXPECT_EQ(latin1("\xE2\x82"
                     "AB"),
              "?AB"); // two consumed
    EXPECT_EQ(latin1("\xE2"
                     "ABC"),
              "?ABC");                 // one consumed
    EXPECT_EQ(latin1("\xE2\x82"), ""); // not enough bytes: both skipped
    EXPECT_EQ(latin1("\xF0\x9F\x98\x80!"), "?!");
    EXPECT_EQ(latin1("\xF0\x9F\x98"
                     "AB"),
              "?AB");
    EXPECT_EQ(latin1("\xF0\x9F"
                     "ABC"),
              "?ABC");
    EXPECT_EQ(latin1("\xF0"
                     "ABCD"),
              "?ABCD");
    EXPECT_EQ(latin1("\xF0\x9F\x98"), "");
    EXPECT_EQ(latin1("\xA9\xBF"
                     "a\xF8\xFF"
                     "b"),
              "ab");
}

TEST_F(Conversions, DecodedZeroEndsTheText) {
    std::string bytes = "ab\xC0\x80"
                        "cd";
    EXPECT_EQ(utf8_to_latin1_length(bytes.data(), bytes.size()), 5u);
    std::vector<char> into(6, 'x');
    EXPECT_EQ(utf8_to_latin1_into(bytes.data(), bytes.size(), into.data()), 2u);
    EXPECT_EQ(std::string(into.data()), "ab");
    text result = utf8_to_latin1(bytes.data(), bytes.size());
    EXPECT_EQ(result, "ab");
    EXPECT_EQ(result.c_str()[2], '\0');
}

TEST_F(Conversions, Latin1ToUtf8) {
    std::string bytes = "A\xE9\x80\xFF";
    EXPECT_EQ(latin1_to_utf8(bytes.data(), bytes.size()), "A\xC3\xA9\xC2\x80\xC3\xBF");
    EXPECT_EQ(latin1_to_utf8("", 0), "");
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    text there = latin1_to_utf8(all.data(), all.size());
    EXPECT_EQ(latin1(std::string(there.view())), all);
}

TEST_F(Conversions, AnsiAndUtf16) {
    EXPECT_EQ(ansi_to_utf16("AB c"), "A\0B\0 \0c\0"s);
    EXPECT_TRUE(ansi_to_utf16("").empty());
    EXPECT_TRUE(ansi_to_utf16(nullptr).empty());
    const std::uint16_t units[] = {'A', 'B', 'c'};
    EXPECT_EQ(utf16_to_ansi(units, 3), "ABc");
    EXPECT_TRUE(utf16_to_ansi(units, 0).empty());
    EXPECT_EQ(ansi_to_utf8("D:\\kit\\work"), "D:\\kit\\work");
    EXPECT_TRUE(ansi_to_utf8("").empty());

    std::string printable;
    for (char c = ' '; c < 127; ++c) printable += c;
    text wide = ansi_to_utf16(printable.c_str());
    ASSERT_EQ(wide.size(), 2 * printable.size());
    std::vector<std::uint16_t> back(printable.size());
    for (std::size_t at = 0; at < back.size(); ++at) {
        back[at] = static_cast<std::uint16_t>(static_cast<unsigned char>(wide.c_str()[2 * at]) |
                                              static_cast<unsigned char>(wide.c_str()[2 * at + 1]) << 8);
    }
    EXPECT_EQ(utf16_to_ansi(back.data(), back.size()), printable);
}

TEST_F(Conversions, FailedAllocationsGiveEmptyTexts) {
    heap_fail_after(0);
    EXPECT_TRUE(utf8_to_latin1("abc", 3).empty());
    heap_fail_after(0);
    EXPECT_TRUE(latin1_to_utf8("abc", 3).empty());
    heap_fail_after(0);
    EXPECT_TRUE(ansi_to_utf16("abc").empty());
    const std::uint16_t units[] = {'x'};
    heap_fail_after(0);
    EXPECT_TRUE(utf16_to_ansi(units, 1).empty());
    for (long n = 0; n < 2; ++n) {
        heap_fail_after(n);
        EXPECT_TRUE(ansi_to_utf8("abc").empty());
    }
    heap_fail_after(-1);
}

} // namespace
} // namespace quillgate::testing
