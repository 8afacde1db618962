// Node paths and attribute edits.
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

class Paths : public XmlTest {
protected:
    void SetUp() override {
        XmlTest::SetUp();
        ASSERT_NE(load_memory(0,
                              "<!DOCTYPE NotepadPlus>\n<!--lead-->\n"
                              "<NotepadPlus><FileBrowser><root foldername=\"C:\\a\\\"/>"
                              "<!--one--><?pi x?><!--two--><root n=\"2\"/><![CDATA[d]]></FileBrowser></NotepadPlus>",
                              24),
                  0);
        main_ = xml_root_element(0);
        ASSERT_NE(main_, nullptr);
    }
    // The name of the node a path finds, with its "n" attribute, its kind, or "-".
    std::string find(const char* path) { return describe(xml_node_from_path(main_, path)); }
    static std::string describe(const xml_node* node) {
        if (node == nullptr) return "-";
        if (node->kind != XML_NODE_ELEMENT) return "#" + std::to_string(node->kind) + ":" + show(node->text);
        std::string out = show(node->name);
        if (node->attribute_count > 0 && std::strcmp(node->attributes[0], "n") == 0) out += node->attributes[1];
        return out;
    }

    xml_node* main_ = nullptr;
};

TEST_F(Paths, AbsoluteAndRelative) {
    EXPECT_EQ(find("/NotepadPlus/FileBrowser/root"), "root");
    EXPECT_EQ(find("/NotepadPlus/FileBrowser/root[1]"), "root");
    EXPECT_EQ(find("/NotepadPlus/FileBrowser/root[2]"), "root2");
    EXPECT_EQ(find("/NotepadPlus/FileBrowser/root[3]"), "-");
    EXPECT_EQ(find("FileBrowser/root[2]"), "root2");
    EXPECT_EQ(find("NotepadPlus/FileBrowser/root"), "-");
    EXPECT_EQ(find("/notepadplus"), "-");
    EXPECT_EQ(xml_node_from_path(main_, "/"), xml_document_get(0)->document_node);
    EXPECT_EQ(xml_node_from_path(main_, ""), main_);
    EXPECT_EQ(xml_node_from_path(main_, nullptr), main_);
    EXPECT_EQ(find("FileBrowser/"), "FileBrowser");
    EXPECT_EQ(find("FileBrowser//root"), "-");
    EXPECT_EQ(xml_node_from_path(nullptr, "/NotepadPlus"), nullptr);
    EXPECT_EQ(xml_node_from_path(nullptr, ""), nullptr);
}

TEST_F(Paths, KindsWildcardsAndIndexes) {
    EXPECT_EQ(find("/#dtd"), "#4:<!DOCTYPE NotepadPlus>");
    EXPECT_EQ(find("/#comment"), "#2:lead");
    EXPECT_EQ(find("FileBrowser/#comment[2]"), "#2:two");
    EXPECT_EQ(find("FileBrowser/#instruction"), "#5:x");
    EXPECT_EQ(find("FileBrowser/#cdata"), "#3:d");
    EXPECT_EQ(find("FileBrowser/*[2]"), "#2:one");
    EXPECT_EQ(find("FileBrowser/*[6]"), "#3:d");
    EXPECT_EQ(find("FileBrowser/*[7]"), "-");
    EXPECT_EQ(find("/*[3]/*"), "FileBrowser");
    // Non-digits inside brackets are skipped; 0, "[]" and a final "[" mean 1.
    EXPECT_EQ(find("FileBrowser/*[x0y5z]"), "root2");
    EXPECT_EQ(find("FileBrowser/root[0]"), "root");
    EXPECT_EQ(find("FileBrowser/root[]"), "root");
    EXPECT_EQ(find("FileBrowser/root["), "root");
    EXPECT_EQ(find("FileBrowser/root[2"), "root2");
    EXPECT_EQ(find("FileBrowser/*[1x2]"), "-");
    EXPECT_EQ(find("FileBrowser[1]root[2]"), "root2"); // a name right after "]" is the next step
    EXPECT_EQ(find("FileBrowser/root[99999999999999999999]"), "-");
    EXPECT_EQ(find("FileBrowser/#comments"), "-");
}

TEST_F(Paths, AttributesAreReplacedInPlaceOrAppended) {
    xml_node* root = xml_node_from_path(main_, "FileBrowser/root");
    ASSERT_NE(root, nullptr);
    xml_set_attribute(root, "extra", "1");
    xml_set_attribute(root, "foldername", "D:\\kit\\work");
    EXPECT_EQ(dump(root), "1 root [<none>] pre=0 foldername=D:\\kit\\work extra=1\n");
    xml_set_attribute(root, "foldername", "<\"&'>");
    xml_set_attribute(root, "Foldername", nullptr);
    xml_set_attribute(root, nullptr, "v");
    EXPECT_EQ(dump(root), "1 root [<none>] pre=0 foldername=<\"&'> extra=1 Foldername= =v\n");
    EXPECT_EQ(root->attribute_count, 4);
    EXPECT_EQ(root->attribute_spare, 1); // one loaded pair, grown by four at the first append

    xml_node* comment = xml_node_from_path(main_, "FileBrowser/#comment");
    xml_set_attribute(comment, "a", "b");
    EXPECT_EQ(comment->attribute_count, 0);
    EXPECT_EQ(comment->attributes, nullptr);
    xml_set_attribute(nullptr, "a", "b");
}

TEST_F(Paths, AttributeArraysGrowFourPairsAtATime) {
    xml_node* browser = xml_node_from_path(main_, "FileBrowser");
    const char* names[] = {"a", "b", "c", "d", "e"};
    std::size_t sizes[5];
    for (int i = 0; i < 5; ++i) {
        xml_set_attribute(browser, names[i], "v");
        sizes[i] = heap_block_size(browser->attributes);
    }
    EXPECT_EQ(browser->attribute_count, 5);
    EXPECT_EQ(browser->attribute_spare, 3);
    EXPECT_EQ(sizes[0], 8 * sizeof(char*));
    EXPECT_EQ(sizes[3], 8 * sizeof(char*));
    EXPECT_EQ(sizes[4], 16 * sizeof(char*));
    EXPECT_EQ(dump(browser).substr(0, 49), "1 FileBrowser [<none>] pre=0 a=v b=v c=v d=v e=v\n");
}

TEST_F(Paths, FailedEditsLeaveTheNodeUnchanged) {
    xml_node* root = xml_node_from_path(main_, "FileBrowser/root[2]");
    std::string before = dump(root);
    for (long n = 0; n < 10; ++n) {
        heap_fail_after(n);
        xml_set_attribute(root, "new", "value");
        bool failed = heap_fault_fired();
        heap_fail_after(-1);
        if (!failed) break;
        EXPECT_EQ(dump(root), before) << n;
    }
    EXPECT_EQ(dump(root), "1 root [<none>] pre=0 n=2 new=value\n");
    heap_fail_after(0);
    xml_set_attribute(root, "n", "3");
    heap_fail_after(-1);
    EXPECT_EQ(dump(root), "1 root [<none>] pre=0 n=2 new=value\n");
}

} // namespace
} // namespace quillgate::xmltest
