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
    std::string find(const char* path) {
        const xml_node* node = xml_node_from_path(main_, path);
        if (node == nullptr) return "-";
        if (node->kind != XML_NODE_ELEMENT) return "#" + std::to_string(node->kind) + ":" + show(node->text);
        std::string out = show(node->name);
        if (node->attribute_count > 0 && std::strcmp(node->attributes[0], "n") == 0) out += node->attributes[1];
        return out;
    }

    xml_node* main_ = nullptr;
};

TEST_F(Paths, AbsoluteRelativeKindsWildcardsAndIndexes) {
    const std::pair<const char*, const char*> cases[] = {
        {"/NotepadPlus/FileBrowser/root[3]", "-"},
        {"FileBrowser/root[2]", "root2"},
        {"NotepadPlus/FileBrowser/root", "-"},
        {"/notepadplus", "-"},
        {"FileBrowser/", "FileBrowser"},
        {"FileBrowser//root", "-"},
        {"/#dtd", "#4:<!DOCTYPE NotepadPlus>"},
        {"/#comment", "#2:lead"},
        {"FileBrowser/#comment[2]", "#2:two"},
        {"FileBrowser/#instruction", "#5:x"},
        {"FileBrowser/#cdata", "#3:d"},
        {"FileBrowser/#comments", "-"},
        {"FileBrowser/*[2]", "#2:one"},
        {"FileBrowser/*[6]", "#3:d"},
        {"FileBrowser/*[7]", "-"},
        {"/*[3]/*", "FileBrowser"},
        // Non-digits inside brackets are skipped; 0, "[]" and a final "[" mean 1.
        {"FileBrowser/*[x0y5z]", "root2"},
        {"FileBrowser/root[0]", "root"},
        {"FileBrowser/root[]", "root"},
        {"FileBrowser/root[", "root"},
        {"FileBrowser/root[2", "root2"},
        {"FileBrowser/*[1x2]", "-"},
        {"FileBrowser[1]root[2]", "root2"}, // a name right after "]" is the next step
        {"FileBrowser/root[99999999999999999999]", "-"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(find(path), expected) << path;
    EXPECT_EQ(xml_node_from_path(main_, "/"), xml_document_get(0)->document_node);
    EXPECT_EQ(xml_node_from_path(main_, ""), main_);
    EXPECT_EQ(xml_node_from_path(main_, nullptr), main_);
    EXPECT_EQ(xml_node_from_path(nullptr, "/NotepadPlus"), nullptr);
}

TEST_F(Paths, AttributesAreReplacedInPlaceOrAppendedFourPairsAtATime) {
    xml_node* root = xml_node_from_path(main_, "FileBrowser/root");
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
    EXPECT_EQ(dump(browser).substr(0, 34), "1 FileBrowser a=v b=v c=v d=v e=v\n");

    xml_node* comment = xml_node_from_path(main_, "FileBrowser/#comment");
    xml_set_attribute(comment, "a", "b");
    EXPECT_EQ(comment->attributes, nullptr);
    xml_set_attribute(nullptr, "a", "b");
}

TEST_F(Paths, FailedEditsLeaveTheNodeUnchanged) {
    xml_node* root = xml_node_from_path(main_, "FileBrowser/root[2]");
    // Appending, then replacing, with an allocation failing at each point.
    for (const char* name : {"new", "n"}) {
        const std::string before = dump(root);
        for (long n = 0;; ++n) {
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
