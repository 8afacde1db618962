// A state file an earlier build wrote in the system's old ANSI code page,
// before the launcher's became UTF-8: read in that page, the kit that has
// not moved does not look moved.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/launcher/kit.h"

namespace quillgate::testing {
namespace {

// The folder in the locale's default ANSI code page, or empty where that
// page lacks one of its characters.
std::string in_legacy_page(const std::string& utf8) {
    char number[8] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number);
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    std::string bytes(4 * wide.size(), '\0');
    BOOL lost = FALSE;
    bytes.resize(static_cast<std::size_t>(WideCharToMultiByte(static_cast<UINT>(std::atoi(number)), 0, wide.data(),
                                                              static_cast<int>(wide.size()), bytes.data(),
                                                              static_cast<int>(bytes.size()), nullptr, &lost)));
    return lost ? std::string() : bytes;
}

TEST(LauncherState, RecordInTheOldCodePageIsReadInIt) {
    Kit kit("quillgate-caf\xC3\xA9-");
    const std::string legacy = in_legacy_page(kit.folder());
    if (legacy.empty() || legacy == kit.folder()) GTEST_SKIP() << "the old code page has no other form for the folder";
    kit.lay_out(kit.folder());
    write_file(kit.file("state.txt"), legacy);
    ASSERT_EQ(kit.run_launcher(), 0);
    EXPECT_EQ(read_file(kit.file("state.txt")), legacy) << "the kit did not move: nothing is rewritten";
    EXPECT_EQ(read_file(kit.file("config.xml")), kit_file(0, kit.folder()));
}

} // namespace
} // namespace quillgate::testing
