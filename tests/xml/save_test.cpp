// Saving: the exact bytes each kind of document gives, escapes per mode and
// encoding, text runs across the buffer, and the refusals that leave the
// target as it was. That saved files load back as the same tree is the
// load-and-save fuzz target's.
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Save = XmlTest;
constexpr int bare = XML_SAVE_NO_DECLARATION;

// Gives a node a text of the test's choosing, as an owned block.
void set_text(xml_node* node, const std::string& text) {
    if (xml_separately_owned(node->text)) heap_free(node->text);
    node->text = static_cast<char*>(std::memcpy(heap_alloc(text.size() + 1), text.c_str(), text.size() + 1));
}

TEST_F(Save, BytesOfEachKindOfDocument) {
    const std::string body = "\r\n<NotepadPlus>\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
                             "    </FileBrowser>\r\n</NotepadPlus>\r\n";
    std::string launchers = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body;
    launchers.erase(launchers.find(" />"), 1); // empty elements lose the space before "/>"
    const struct {
        std::string bytes;
        int flag, save_flags;
        std::string saved;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\" ?>" + body, 24, 0, launchers},
        // Declared in another 8-bit encoding, or marked, it stays ISO-8859-1.
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>", 24, 0,
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>"},
        // A UTF-8 file with a byte-order mark keeps it, and its bytes as they are.
        {"\xEF\xBB\xBF<a>\xC3\xA9</a>", 24, 0, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>"},
        {"<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a></a><b /><c> \n </c><d q='it\"s' "
         "t=\"a&#9;\\b&#10;\"/><?p?><?q data?><!--n--><![CDATA[ < ]]></r>",
         24, bare,
         "<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a/><b/><c> \n </c><d q=\"it&quot;s\" t=\"a&#9;\\b&#10;\"/>"
         "<?p ?><?q data?><!--n--><![CDATA[ < ]]></r>"},
        {"<a>x<b/>yy<c/>z</a>", 24, bare, "<a>x<b/>yy<c/>z</a>"},
        {"<?xml version='1.0' standalone='yes'?><r/>", 2, 0,
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r/>"},
        {"\xFF\xFE" + widen("<?xml version='1.0' standalone='no'?><r/>"), 25, 0,
         widen("<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?><r/>")},
        {"\xFF\xFE" + widen("<a/>"), 25, XML_SAVE_BOM | bare, "\xFF\xFE" + widen("<a/>")},
        {"<a/>", 2, XML_SAVE_BOM | bare, "\xEF\xBB\xBF<a/>"},
        {"x", 24, bare, ""}, // nothing at all in the document node
    };
    for (const auto& c : cases) {
        ASSERT_NE(load_memory(0, c.bytes, c.flag), 0);
        EXPECT_EQ(saved(0, c.save_flags), c.saved) << show(c.bytes.c_str());
    }
}

TEST_F(Save, EscapesTextRunsAndWhatIsWrittenAsItStands) {
    ASSERT_NE(load_memory(0, "<a v=''>x<b/>yy<c/>z<!--c--><![CDATA[d]]></a>", 24), 0);
    xml_node* a = xml_root_element(0);
    set_text(a, "<>&'\"\n\r\t\x01\xE9");
    xml_set_attribute(a, "v", "<>&'\"\n\r\t\x01\xE9");
    const std::string text = "&lt;&gt;&amp;'\"\n&#13;\t\x01", value = "&lt;&gt;&amp;&apos;&quot;&#10;&#13;&#9;\x01";
    const std::string children = "<b/><c/><!--a--b--><![CDATA[]]>]]>"; // comment and CDATA texts unchanged
    set_text(xml_node_from_path(a, "#comment"), "a--b");
    set_text(xml_node_from_path(a, "#cdata"), "]]>");
    for (xml_node* child = a->first_child; child != nullptr; child = child->next_sibling)
        child->preceding_text_length = 0;
    for (auto [encoding, e9] : {std::pair{24, "&#233;"}, {2, "\xC3\xA9"}, {25, "\xE9"}}) {
        xml_document_get(0)->encoding = encoding;
        std::string expected = "<a v=\"" + value + e9 + "\">" + children + text + e9 + "</a>";
        EXPECT_EQ(saved(0, bare), encoding == 25 ? widen(expected) : expected) << encoding;
    }
    // A count that runs past the text: the rest goes before the child; large
    // texts cross the 4096-byte buffer in whole units.
    xml_document_get(0)->encoding = 24;
    std::string big(5000, 'a');
    big[4095] = '&';
    set_text(a, big);
    xml_node_from_path(a, "c")->preceding_text_length = 100000;
    big.replace(4095, 1, "&amp;");
    EXPECT_TRUE(saved(0, bare) == "<a v=\"" + value + "&#233;\"><b/>" + big + "<c/><!--a--b--><![CDATA[]]>]]></a>");

    // The emitters on their own: lengths, absent texts, mode 2.
    std::uint8_t buffer[xml_save_buffer_size];
    xml_writer writer{buffer, xml_save_buffer_size, nullptr, xml_writer_flush, buffer, 0};
    EXPECT_EQ(xml_emit_latin1("<&\n", -1, ESCAPE_NONE, &writer) + xml_emit_latin1("<>&", 2, ESCAPE_TEXT, &writer) +
                  xml_emit_utf8("\x80\xFF", 100, ESCAPE_ATTRIBUTE, &writer) +
                  xml_emit_utf16(nullptr, -1, ESCAPE_TEXT, &writer) + xml_emit_utf16("&", 1, ESCAPE_TEXT, &writer),
              5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), xml_save_buffer_size - writer.room),
              "<&\n&lt;&gt;\xC2\x80\xC3\xBF" + widen("&amp;"));
}

TEST_F(Save, FailuresLeaveTheTargetAsItWas) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    for (const std::string& target : {path("no-such-folder/x.xml"), std::string(), folder_.string()})
        EXPECT_EQ(xml_save(0, target.c_str()), 0) << target;
    EXPECT_EQ(xml_save(0, nullptr) + xml_save(4, path("x.xml").c_str()), 0) << "no path, no document in slot 4";
    write_file(file("ro.xml"), "old");
    std::filesystem::permissions(file("ro.xml"), std::filesystem::perms::owner_read);
    EXPECT_EQ(xml_save(0, path("ro.xml").c_str()), 0);
    std::filesystem::permissions(file("ro.xml"), std::filesystem::perms::owner_all);
    EXPECT_EQ(read_file(file("ro.xml")), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"ro.xml"}) << "no temporary file left";
}

} // namespace
} // namespace quillgate::xmltest
