// Saving on Windows: attributes kept, files held open by others refused,
// short holds waited for (read-only targets are the common save tests').
#include <windows.h>

#include "runtime/programs/programs.h"
#include "tests/support/paths.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using SaveAccess = XmlTest;

TEST_F(SaveAccess, HiddenKeptHeldOpenRefused) {
    ASSERT_NE(load_memory(0, "<a/>", ENCODING_8BIT), 0);
    const std::string target = path("t.xml");
    write_file(target, "old");
    // Another writer that shares nothing, and one that shares only reading.
    for (DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
        HANDLE held =
            CreateFileA(target.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(xml_save(0, target.c_str()), 0) << share;
        CloseHandle(held);
        EXPECT_EQ(read_file(target), "old");
    }

    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(xml_save(0, target.c_str()), 1);
    DWORD attributes = GetFileAttributesA(target.c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(read_file(target), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(listing(), std::vector<std::string>{"t.xml"});
}

// A target that another program holds open for a moment is waited for; one
// held for longer stays as it was, and no temporary file is left behind.
TEST_F(SaveAccess, ShortHoldIsWaitedForLongHoldFails) {
    ASSERT_NE(load_memory(0, "<a/>", ENCODING_8BIT), 0);
    const std::string target = path("config.xml");
    for (auto [hold_ms, result] : {std::pair{300, 1}, {3000, 0}}) {
        write_file(target, "old");
        std::filesystem::remove(target + ".held");
        std::string parameters = "\"" + target + "\" " + std::to_string(hold_ms);
        auto* holder = reinterpret_cast<program_object*>(
            program_run(testing::standin_path("holder").c_str(), parameters.c_str(), "", RUN_KEEP_OBJECT));
        ASSERT_NE(holder, nullptr);
        for (int i = 0; i < 1000 && !std::filesystem::exists(target + ".held"); ++i) Sleep(10);
        EXPECT_EQ(xml_save(0, target.c_str()), result) << hold_ms;
        EXPECT_EQ(read_file(target), result == 1 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>" : "old");
        EXPECT_EQ(program_wait(holder, 20000), 0);
        program_close(holder);
        EXPECT_EQ(listing(), (std::vector<std::string>{"config.xml", "config.xml.held"}));
    }
}

} // namespace
} // namespace quillgate::xmltest
