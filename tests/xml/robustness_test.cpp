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

using Robustness = XmlTest;

TEST_F(Robustness, AllocationAndIoFailureAtEveryPoint) {
    const std::string target = path("config.xml");
    write_file(target, config);
    ASSERT_TRUE(launcher_steps(target));
    const std::string expected = read_file(target);
    ASSERT_NE(expected, config);
    // Allocations, then I/O failing once, then for good, at every point in
    // turn until none fires: the file is untouched or wholly replaced, no
    // temporary is left, a load cut short says why, and nothing leaks.
    for (int fault : {0, 1, 2}) {
        long n = -1; // ends as the number of failure points
        for (bool fired = true; fired;) {
            ++n;
            write_file(target, config);
            if (fault == 0) heap_fail_after(n);
            else io_fail_after(n, fault == 2);
            bool done = launcher_steps(target);
            fired = fault == 0 ? heap_fault_fired() : io_fault_fired();
            heap_fail_after(-1);
            io_fail_after(-1);
            EXPECT_EQ(read_file(target), done ? expected : config) << "fault " << fault << " at " << n;
            EXPECT_EQ(listing(), std::vector<std::string>{"config.xml"}) << n;
            const int status = xml_document_get(0) ? xml_status(0) : 0;
            EXPECT_TRUE(status == 0 || status == (fault ? XML_STATUS_READ_ERROR : XML_STATUS_OUT_OF_MEMORY)) << n;
            xml_free(0);
        }
        EXPECT_GE(n, fault == 0 ? 20 : 3); // I/O: a read, a write, the flush and the move at least
        std::printf("failure points of load, edit and save (%s): %ld\n", fault ? "I/O" : "allocation", n);
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
