// Attribute edits on the configuration's shape. The path rules over
// arbitrary paths are the node-path fuzz target's.
#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

class Paths : public XmlTest {
protected:
    void SetUp() override {
        XmlTest::SetUp();
        ASSERT_NE(load_memory(0,
                              "<!DOCTYPE NotepadPlus>\n<NotepadPlus><FileBrowser><root foldername=\"C:\\a\\\"/>"
                              "<!--one--><?pi x?><root n=\"2\"/><![CDATA[d]]></FileBrowser></NotepadPlus>",
                              24),
                  0);
        main_ = xml_root_element(0);
    }
    xml_node* main_ = nullptr;
};

TEST_F(Paths, AttributesAreReplacedInPlaceOrAppendedFourPairsAtATime) {
    EXPECT_EQ(xml_node_from_path(main_, "/"), xml_document_get(0)->document_node);
    EXPECT_EQ(xml_node_from_path(main_, nullptr), main_);
    EXPECT_EQ(xml_node_from_path(nullptr, "/NotepadPlus"), nullptr);
    xml_node* root = xml_node_from_path(main_, "/NotepadPlus/FileBrowser/root");
    xml_set_attribute(root, "extra", "1");
    xml_set_attribute(root, "foldername", "<\"&'>");
    xml_set_attribute(root, "Foldername", nullptr);
    xml_set_attribute(root, nullptr, "v");
    EXPECT_EQ(dump(root), "1 root foldername=<\"&'> extra=1 Foldername= =v\n");
    EXPECT_EQ(root->attribute_spare, 1); // one loaded pair, grown by four at the first append
    xml_node* browser = xml_node_from_path(main_, "FileBrowser");
    std::vector<std::size_t> sizes;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        xml_set_attribute(browser, name, "v");
        sizes.push_back(heap_block_size(browser->attributes) / sizeof(char*));
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 8, 8, 8, 16}));
    EXPECT_EQ(browser->attribute_spare, 3);
    xml_node* comment = xml_node_from_path(main_, "FileBrowser/#comment");
    xml_set_attribute(comment, "a", "b");
    EXPECT_EQ(comment->attributes, nullptr);
    xml_set_attribute(nullptr, "a", "b");

    // Appending, then replacing, with an allocation failing at each point:
    // a failed edit leaves the node as it was.
    root = xml_node_from_path(main_, "FileBrowser/root[2]");
    for (const char* name : {"new", "n"}) {
        for (long n = 0;; ++n) {
            const std::string before = dump(root);
            heap_fail_after(n);
            xml_set_attribute(root, name, "value");
            bool failed = heap_fault_fired();
            heap_fail_after(-1);
            if (!failed) break;
            EXPECT_EQ(dump(root), before) << name << " " << n;
        }
    }
    EXPECT_EQ(dump(root), "1 root n=value new=value\n");
}

} // namespace
} // namespace quillgate::xmltest
