// POSIX: the ANSI code page is UTF-8, the codec behind the UTF-16 texts,
// with one replacement per maximal ill-formed part.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/files/convert.h"
#include "runtime/platform/text_codepage.h"
#include "tests/support/heap_check.h"

namespace quillgate::testing {
namespace {

using namespace std::string_literals;
using CodePage = HeapChecked;
using units = std::vector<std::uint16_t>;

TEST_F(CodePage, Utf8AndUtf16BothWays) {
    constexpr std::uint16_t bad = 0xFFFD;
    const std::pair<std::string, units> cases[] = {
        {"A\xC3\xA9", {'A', 0xE9}},
        {"\xE2\x82\xAC", {0x20AC}},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
        {"\xE2\x82"s + "A", {bad, 'A'}},
        {"\xE9\xFF\xC0\x80", {bad, bad, bad, bad}},
        {"\xED\xA0\x80", {bad, bad, bad}},          // a surrogate
        {"\xF4\x90\x80\x80", {bad, bad, bad, bad}}, // beyond U+10FFFF
    };
    for (const auto& [utf8, expected] : cases) {
        units wide(utf8.size() + 1);
        const int n = static_cast<int>(utf8.size());
        EXPECT_EQ(os_ansi_to_wide(utf8.data(), n, nullptr, 0), static_cast<int>(expected.size()));
        wide.resize(static_cast<std::size_t>(os_ansi_to_wide(utf8.data(), n, wide.data(), n + 1)));
        EXPECT_EQ(wide, expected) << ::testing::PrintToString(utf8);
        if (std::find(expected.begin(), expected.end(), bad) != expected.end()) continue;
        std::string back(utf8.size(), '\0'); // well-formed text comes back as it was, needing all its room
        EXPECT_EQ(os_wide_to_ansi(wide.data(), static_cast<int>(wide.size()), back.data(), n - 1), 0);
        EXPECT_EQ(os_wide_to_ansi(wide.data(), static_cast<int>(wide.size()), back.data(), n), n);
        EXPECT_EQ(back, utf8);
    }
    // -1 counts the terminator; too small a destination fails; a lone surrogate becomes "?".
    std::uint16_t two[2];
    const std::uint16_t lone[] = {0xDC00, 'a', 0xD800, 0};
    EXPECT_EQ(os_ansi_to_wide("ab", -1, nullptr, 0), 3);
    EXPECT_EQ(os_wide_to_ansi(lone, -1, nullptr, 0), 4);
    EXPECT_EQ(os_ansi_to_wide("ab", -1, two, 2) + os_ansi_to_wide("ab", 0, nullptr, 0), 0);
    EXPECT_EQ(utf16_to_ansi(lone, 3), "?a?");
    EXPECT_EQ(ansi_to_utf16("\xC3\xA9"), "\xE9\0"s);
    EXPECT_EQ(ansi_to_utf16("\xE9"), "\xFD\xFF"s);
}

} // namespace
} // namespace quillgate::testing
