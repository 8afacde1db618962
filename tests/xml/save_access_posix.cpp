// Saving on POSIX: the replaced file keeps its permission bits.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using SaveAccess = XmlTest;

TEST_F(SaveAccess, ReplacedFileKeepsItsMode) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    write_file(path("t.xml"), "old");
    ASSERT_EQ(::chmod(path("t.xml").c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path("t.xml").c_str(), &before), 0);
    ASSERT_EQ(xml_save(0, path("t.xml").c_str()), 1);
    struct stat after {};
    ASSERT_EQ(::stat(path("t.xml").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the old one's place";
    EXPECT_EQ(listing(), std::vector<std::string>{"t.xml"});
    // (Read-only targets are the common save tests'.) Group or others' write bits alone make the file writable for a
    // user whom the system lets write anything, and for nobody else here.
    ASSERT_EQ(::chmod(path("t.xml").c_str(), 0464), 0);
    EXPECT_EQ(xml_save(0, path("t.xml").c_str()), ::geteuid() == 0 ? 1 : 0);
}

} // namespace
} // namespace quillgate::xmltest
