// Saving: declarations, escapes per mode and encoding, empty elements, the
// text runs between children, and the replacement of the target.
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Save = XmlTest;

// Gives a node a text of the test's choosing, as an owned block.
void set_text(xml_node* node, const char* text) {
    if (xml_separately_owned(node->text)) heap_free(node->text);
    std::size_t n = std::strlen(text) + 1;
    node->text = static_cast<char*>(heap_alloc(n));
    std::memcpy(node->text, text, n);
}

TEST_F(Save, TheLaunchersConfigurationComesBackAsItWas) {
    const std::string body = "\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n        <GUIConfig name=\"caf\xC3\xA9\" />\r\n"
                             "    </GUIConfigs>\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
                             "    </FileBrowser>\r\n</NotepadPlus>\r\n";
    ASSERT_NE(load_memory(0, "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>" + body, 24), 0);
    std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body;
    // Empty elements lose the space before "/>".
    for (std::size_t at; (at = expected.find(" />")) != std::string::npos;) expected.erase(at, 1);
    EXPECT_EQ(saved(0), expected);
    // Declared in another 8-bit encoding, or marked, it stays ISO-8859-1.
    ASSERT_NE(load_memory(0, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>", 24), 0);
    EXPECT_EQ(saved(0), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>");
    ASSERT_NE(load_memory(0, "\xEF\xBB\xBF<a>\xC3\xA9</a>", 24), 0);
    EXPECT_EQ(saved(0), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>");
}

TEST_F(Save, ElementsAttributesAndSpecialNodes) {
    ASSERT_NE(load_memory(0,
                          "<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a></a><b /><c> \n </c>"
                          "<d q='it\"s' t=\"a&#9;\\b&#10;\"/><?p?><?q data?><!--n--><![CDATA[ < ]]></r>",
                          24),
              0);
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION),
              "<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a/><b/><c> \n </c>"
              "<d q=\"it&quot;s\" t=\"a&#9;\\b&#10;\"/><?p ?><?q data?><!--n--><![CDATA[ < ]]></r>");
    ASSERT_NE(load_memory(0, "<?xml version='1.0' standalone='yes'?><r/>", 2), 0);
    EXPECT_EQ(saved(0), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r/>");
    ASSERT_NE(load_memory(0, "\xFF\xFE" + widen("<?xml version='1.0' standalone='no'?><r/>"), 25), 0);
    EXPECT_EQ(saved(0), widen("<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?><r/>"));
    // Comment and CDATA texts are written unchanged, whatever they hold.
    ASSERT_NE(load_memory(0, "<r><!--c--><![CDATA[d]]></r>", 24), 0);
    set_text(xml_node_from_path(xml_root_element(0), "#comment"), "a--b");
    set_text(xml_node_from_path(xml_root_element(0), "#cdata"), "]]>");
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), "<r><!--a--b--><![CDATA[]]>]]></r>");
}

TEST_F(Save, EscapesOfEachModeInEachEncoding) {
    const char* seven = "<>&'\"\n\r";
    ASSERT_NE(load_memory(0, "<a v=''>x</a>", 24), 0);
    xml_node* a = xml_root_element(0);
    set_text(a, "<>&'\"\n\r\t\x01\xE9");
    xml_set_attribute(a, "v", "<>&'\"\n\r\t\x01\xE9");
    const std::string escaped_text = "&lt;&gt;&amp;'\"\n&#13;\t\x01";
    const std::string escaped_value = "&lt;&gt;&amp;&apos;&quot;&#10;&#13;&#9;\x01";
    for (auto [encoding, e9] : {std::pair{24, "&#233;"}, {2, "\xC3\xA9"}, {25, "\xE9"}}) {
        xml_document_get(0)->encoding = encoding;
        std::string expected = "<a v=\"" + escaped_value + e9 + "\">" + escaped_text + e9 + "</a>";
        EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), encoding == 25 ? widen(expected) : expected) << encoding;
    }

    // The emitters on their own: lengths, absent texts, mode 2.
    std::uint8_t buffer[xml_save_buffer_size];
    xml_writer writer{buffer, xml_save_buffer_size, nullptr, xml_writer_flush, buffer, 0};
    auto written = [&] { return std::string(reinterpret_cast<char*>(buffer), xml_save_buffer_size - writer.room); };
    EXPECT_EQ(xml_emit_latin1(seven, -1, ESCAPE_NONE, &writer), 1);
    EXPECT_EQ(xml_emit_latin1(seven, 2, ESCAPE_TEXT, &writer), 1);
    EXPECT_EQ(xml_emit_utf8("\x80\xFF", 100, ESCAPE_ATTRIBUTE, &writer), 1);
    EXPECT_EQ(xml_emit_utf16(nullptr, -1, ESCAPE_TEXT, &writer), 1);
    EXPECT_EQ(xml_emit_utf16("&", 1, ESCAPE_TEXT, &writer), 1);
    EXPECT_EQ(written(), std::string(seven) + "&lt;&gt;\xC2\x80\xC3\xBF" + widen("&amp;"));
}

TEST_F(Save, MarksAndDeclarations) {
    ASSERT_NE(load_memory(0, "<a/>", 2), 0);
    EXPECT_EQ(saved(0), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
    EXPECT_EQ(saved(0, XML_SAVE_BOM | XML_SAVE_NO_DECLARATION), "\xEF\xBB\xBF<a/>");
    xml_document_get(0)->encoding = 25;
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), std::string("<\0a\0/\0>\0", 8));
    EXPECT_EQ(saved(0, XML_SAVE_BOM | XML_SAVE_NO_DECLARATION), std::string("\xFF\xFE<\0a\0/\0>\0", 10));
    // A document node with nothing at all gives an empty file.
    ASSERT_NE(load_memory(0, "x", 24), 0);
    EXPECT_NE(xml_status(0), 0);
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), "");
}

TEST_F(Save, TextRunsBetweenChildren) {
    ASSERT_NE(load_memory(0, "<a>x<b/>yy<c/>z</a>", 24), 0);
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), "<a>x<b/>yy<c/>z</a>");
    // A count that runs past the text: the rest goes before the child and
    // nothing of the text after it.
    xml_node_from_path(xml_root_element(0), "c")->preceding_text_length = 100;
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), "<a>x<b/>yyz<c/></a>");
    // Large texts cross the 4096-byte buffer in whole units.
    xml_node_from_path(xml_root_element(0), "c")->preceding_text_length = 2;
    std::string big(5000, 'a');
    big[4095] = '&';
    set_text(xml_root_element(0), big.c_str());
    std::string expected = big;
    expected.replace(4095, 1, "&amp;");
    EXPECT_TRUE(saved(0, XML_SAVE_NO_DECLARATION) ==
                "<a>" + expected.substr(0, 1) + "<b/>" + expected.substr(1, 2) + "<c/>" + expected.substr(3) + "</a>");
}

TEST_F(Save, FailuresLeaveTheTargetAsItWas) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    EXPECT_EQ(xml_save(0, path("no-such-folder/x.xml").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(file("no-such-folder")));
    EXPECT_EQ(xml_save(0, ""), 0);
    EXPECT_EQ(xml_save(0, nullptr), 0);
    EXPECT_EQ(xml_save(4, path("x.xml").c_str()), 0) << "no document in slot 4";
    EXPECT_EQ(xml_save(0, folder_.string().c_str()), 0) << "a folder is no file";
    EXPECT_EQ(listing(), std::vector<std::string>{});

    write_file(file("ro.xml"), "old");
    std::filesystem::permissions(file("ro.xml"), std::filesystem::perms::owner_read);
    EXPECT_EQ(xml_save(0, path("ro.xml").c_str()), 0);
    EXPECT_EQ(read_file(file("ro.xml")), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"ro.xml"});
    std::filesystem::permissions(file("ro.xml"), std::filesystem::perms::owner_all);

    EXPECT_EQ(xml_save(0, path("new.xml").c_str()), 1);
    EXPECT_EQ(read_file(file("new.xml")), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
    EXPECT_EQ(listing(), (std::vector<std::string>{"new.xml", "ro.xml"}));
}

} // namespace
} // namespace quillgate::xmltest
