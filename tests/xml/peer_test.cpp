// A second reader's view of a saved configuration: the editor reads its
// configuration with pugixml, so after load, edit and save pugixml must see
// the edited attribute and every other value as they were.
//
// Built only where the test binary links pugixml and defines
// QUILLGATE_WITH_PUGIXML (the native build); elsewhere this file is empty.
#if defined(QUILLGATE_WITH_PUGIXML) && __has_include(<pugixml.hpp>)

#include <pugixml.hpp>

#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Peer = XmlTest;

TEST_F(Peer, PugixmlReadsTheEditedConfiguration) {
    const char* config =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n"
        "        <GUIConfig name=\"font\" face=\"Caf\xC3\xA9 \xE2\x82\xAC\" note=\"a &amp; &lt;b&gt;\" />\r\n"
        "    </GUIConfigs>\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
        "    </FileBrowser>\r\n</NotepadPlus>\r\n";
    std::string target = path("config.xml");
    write_file(target, config);
    ASSERT_NE(xml_load(0, target.c_str(), 24), 0);
    ASSERT_EQ(xml_status(0), 0);
    xml_node* root = xml_node_from_path(xml_root_element(0), "/NotepadPlus/FileBrowser/root");
    ASSERT_NE(root, nullptr);
    xml_set_attribute(root, "foldername", "D:\\kit\\work\\");
    ASSERT_EQ(xml_save(0, target.c_str()), 1);

    pugi::xml_document peer;
    ASSERT_TRUE(peer.load_file(target.c_str()));
    EXPECT_STREQ(peer.select_node("/NotepadPlus/FileBrowser/root").node().attribute("foldername").value(),
                 "D:\\kit\\work\\");
    pugi::xml_node font = peer.select_node("/NotepadPlus/GUIConfigs/GUIConfig").node();
    EXPECT_STREQ(font.attribute("face").value(), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_STREQ(font.attribute("note").value(), "a & <b>");
    EXPECT_STREQ(font.attribute("name").value(), "font");
    // The layout is the file's own: CR LF and four-space indents.
    EXPECT_NE(read_file(target).find("\r\n    <FileBrowser>\r\n        <root foldername="), std::string::npos);
}

} // namespace
} // namespace quillgate::xmltest

#endif
