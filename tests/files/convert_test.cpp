// The text conversions, byte for byte.
#include <cstdint>
#include <cstring>
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
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"\xC3\xA9", "\xE9"},
        {"\xC1\xBF", "\x7F"},
        {"\xC4\x80", "?"},       // above Latin-1
        {"\xC3"s + "A", "?A"},   // no continuation: only the lead goes
        {"A\xC3", "A"},          // lead without a follower
        {"\xE2\x82\xAC!", "?!"}, // three bytes
        {"\xE2\x82"s + "AB", "?AB"},
        {"\xE2"s + "ABC", "?ABC"},
        {"\xE2\x82", ""}, // not enough bytes: both skipped
        {"\xF0\x9F\x98\x80!", "?!"},
        {"\xF0\x9F\x98"s + "AB", "?AB"},
        {"\xF0\x9F"s + "ABC", "?ABC"},
        {"\xF0"s + "ABCD", "?ABCD"},
        {"\xF0\x9F\x98", ""},
        {"\xA9\xBF"s + "a\xF8\xFF" + "b", "ab"}, // stray continuations and invalid leads vanish
    };
    for (const auto& [utf8, expected] : cases) EXPECT_EQ(latin1(utf8), expected) << ::testing::PrintToString(utf8);
}

TEST_F(Conversions, DecodedZeroEndsTheText) {
    std::string bytes = "ab\xC0\x80"s + "cd";
    EXPECT_EQ(utf8_to_latin1_length(bytes.data(), bytes.size()), 5u);
    std::vector<char> into(6, 'x');
    EXPECT_EQ(utf8_to_latin1_into(bytes.data(), bytes.size(), into.data()), 2u);
    EXPECT_EQ(std::string(into.data()), "ab");
    text result = utf8_to_latin1(bytes.data(), bytes.size());
    EXPECT_EQ(result, "ab");
    EXPECT_EQ(result.c_str()[2], '\0');
}

TEST_F(Conversions, Latin1ToUtf8RoundTrips) {
    EXPECT_EQ(latin1_to_utf8("A\xE9\x80\xFF", 4), "A\xC3\xA9\xC2\x80\xC3\xBF");
    EXPECT_EQ(latin1_to_utf8("", 0), "");
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    text there = latin1_to_utf8(all.data(), all.size());
    EXPECT_EQ(latin1(std::string(there.view())), all);
}

TEST_F(Conversions, AnsiThroughUtf16RoundTrips) {
    EXPECT_EQ(ansi_to_utf16("AB c"), "A\0B\0 \0c\0"s);
    EXPECT_TRUE(ansi_to_utf16("").empty());
    EXPECT_TRUE(ansi_to_utf16(nullptr).empty());
    const std::uint16_t units[] = {'A', 'B', 'c'};
    EXPECT_EQ(utf16_to_ansi(units, 3), "ABc");
    EXPECT_TRUE(utf16_to_ansi(units, 0).empty());
    EXPECT_EQ(ansi_to_utf8("D:\\kit\\work"), "D:\\kit\\work");

    std::string printable;
    for (char c = ' '; c < 127; ++c) printable += c;
    text wide = ansi_to_utf16(printable.c_str());
    ASSERT_EQ(wide.size(), 2 * printable.size());
    std::vector<std::uint16_t> back(printable.size()); // the test machines are little-endian
    std::memcpy(back.data(), wide.c_str(), wide.size());
    EXPECT_EQ(utf16_to_ansi(back.data(), back.size()), printable);
}

TEST_F(Conversions, FailedAllocationsGiveEmptyTexts) {
    const std::uint16_t units[] = {'x'};
    heap_fail_after(0, true);
    EXPECT_TRUE(utf8_to_latin1("abc", 3).empty());
    EXPECT_TRUE(latin1_to_utf8("abc", 3).empty());
    EXPECT_TRUE(ansi_to_utf16("abc").empty());
    EXPECT_TRUE(utf16_to_ansi(units, 1).empty());
    EXPECT_TRUE(ansi_to_utf8("abc").empty());
    heap_fail_after(1); // the UTF-8 result after the UTF-16 step
    EXPECT_TRUE(ansi_to_utf8("abc").empty());
}

} // namespace
} // namespace quillgate::testing
