// Saving on Windows: attributes kept, read-only files and files held open
// by others refused.
#include <windows.h>

#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using SaveAccess = XmlTest;

TEST_F(SaveAccess, HiddenFileStaysHidden) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    write_file(file("t.xml"), "old");
    ASSERT_TRUE(SetFileAttributesA(path("t.xml").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(xml_save(0, path("t.xml").c_str()), 1);
    DWORD attributes = GetFileAttributesA(path("t.xml").c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(read_file(file("t.xml")), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
    SetFileAttributesA(path("t.xml").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(listing(), std::vector<std::string>{"t.xml"});
}

TEST_F(SaveAccess, FilesHeldOpenOrReadOnlyAreRefused) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    write_file(file("t.xml"), "old");
    ASSERT_TRUE(SetFileAttributesA(path("t.xml").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(xml_save(0, path("t.xml").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesA(path("t.xml").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(read_file(file("t.xml")), "old");

    // Another writer that shares nothing, and one that shares only reading.
    for (DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
        HANDLE held = CreateFileA(path("t.xml").c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(xml_save(0, path("t.xml").c_str()), 0) << share;
        CloseHandle(held);
        EXPECT_EQ(read_file(file("t.xml")), "old");
    }
    EXPECT_EQ(listing(), std::vector<std::string>{"t.xml"});
    EXPECT_EQ(xml_save(0, path("t.xml").c_str()), 1);
}

} // namespace
} // namespace quillgate::xmltest
