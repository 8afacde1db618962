// Robustness: allocation and I/O failure at every point of load, edit and
// save; documents too deep or too wide for recursion.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

const char* const config =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<!DOCTYPE NotepadPlus [<!ENTITY e \"x\">]>\r\n<NotepadPlus>\r\n"
    "    <GUIConfigs>\r\n        <GUIConfig name=\"caf\xC3\xA9\" v='&e;'>long text &amp; more</GUIConfig>\r\n"
    "    </GUIConfigs>\r\n    <!-- c -->\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
    "    </FileBrowser>\r\n</NotepadPlus>\r\n";

// Load, edit and save as the launcher does, with whatever faults are armed;
// true when every step succeeded.
bool launcher_steps(const std::string& target) {
    if (xml_load(0, target.c_str(), 24) == 0 || xml_status(0) != 0) return false;
    xml_node* root = xml_node_from_path(xml_root_element(0), "/NotepadPlus/FileBrowser/root");
    if (root == nullptr) return false;
    xml_set_attribute(root, "foldername", "D:\\kit\\work");
    // A failed edit says nothing; only the node shows it.
    if (std::strcmp(root->attributes[1], "D:\\kit\\work") != 0) return false;
    return xml_save(0, target.c_str()) == 1;
}

class Robustness : public XmlTest {
protected:
    // Runs the launcher's steps with a fault armed at every point in turn
    // until none fires: the file is untouched or fully replaced, no temporary
    // is left, a load cut short reports `fault_status`. Returns the count.
    template <typename Arm, typename Fired>
    long fail_everywhere(const std::string& target, const std::string& expected, int fault_status, Arm arm,
                         Fired fired) {
        heap_counts start = heap_live();
        long n = 0;
        for (;; ++n) {
            write_file(target, config);
            arm(n);
            bool done = launcher_steps(target);
            bool faulted = fired();
            arm(-1);
            std::string now = read_file(target);
            EXPECT_TRUE(now == config || now == expected) << "n=" << n;
            EXPECT_EQ(done, now == expected) << "n=" << n;
            EXPECT_EQ(listing(), std::vector<std::string>{"config.xml"}) << "n=" << n;
            if (xml_document_get(0) != nullptr && xml_status(0) != 0) {
                EXPECT_EQ(xml_status(0), fault_status) << "n=" << n;
            }
            xml_free(0);
            EXPECT_EQ(heap_live().blocks, start.blocks) << "n=" << n;
            if (!faulted) return n;
        }
    }
};

TEST_F(Robustness, AllocationAndIoFailureAtEveryPoint) {
    std::string target = path("config.xml");
    write_file(target, config);
    ASSERT_TRUE(launcher_steps(target));
    const std::string expected = read_file(target);
    ASSERT_NE(expected, config);
    xml_free(0);
    long n = fail_everywhere(
        target, expected, XML_STATUS_OUT_OF_MEMORY, [](long at) { heap_fail_after(at); },
        [] { return heap_fault_fired(); });
    EXPECT_GT(n, 20);
    std::printf("allocation failure points of load, edit and save: %ld\n", n);
    for (bool persistent : {false, true}) {
        n = fail_everywhere(
            target, expected, XML_STATUS_READ_ERROR, [&](long at) { io_fail_after(at, persistent); },
            [] { return io_fault_fired(); });
        EXPECT_GE(n, 3); // a read, a write, the flush and the move at least
        std::printf("I/O failure points of load, edit and save (%s): %ld\n", persistent ? "persistent" : "once", n);
    }
}

TEST_F(Robustness, MillionLevelsAndMillionSiblings) {
    const std::size_t million = 1000000;
    std::string deep;
    for (std::size_t i = 0; i < million; ++i) deep += "<a>";
    for (std::size_t i = 0; i < million; ++i) deep += "</a>";
    std::string wide = "<r>\n";
    for (std::size_t i = 0; i < million; ++i) wide += " <b/>\n";
    wide += "</r>";
    for (const std::string* input : {&deep, &wide}) {
        write_file(file("in.xml"), *input);
        ASSERT_NE(xml_load(0, path("in.xml").c_str(), 24), 0);
        ASSERT_EQ(xml_status(0), 0);
        ASSERT_EQ(xml_save(0, path("out.xml").c_str(), XML_SAVE_NO_DECLARATION), 1);
        std::string expected = *input;
        if (input == &deep) expected.replace(million * 3 - 3, 7, "<a/>");
        EXPECT_TRUE(read_file(file("out.xml")) == expected);
        xml_free(0);
    }
}

} // namespace
} // namespace quillgate::xmltest
