// Loading: the tree and document fields each kind of file gives, in every
// chunking; line-end detection; status codes, slots and the string pool.
// Arbitrary input and round trips are the load-and-save fuzz target's.
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Load = XmlTest;

TEST_F(Load, TreesAndFieldsOfEachKindOfFile) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a b=\"\xC3\xA9\">\xC3\xA9</a>";
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>";
    const struct {
        std::string bytes;
        int flag;
        const char* seen; // a part of the summary
    } cases[] = {
        {"<a>\r\n  <b/>\r\n</a>", 24,
         "status=0 lines=1 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r\\n  \\r\\n]\n    1 b pre=4\n"},
        {"<a>\n  <b/>\n</a>", 24,
         "lines=2 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\n  \\n]\n    1 b pre=3\n"},
        // CR alone: every line feed the parser reports is stored as CR.
        {"<a>\r  <b/>\r</a>", 24,
         "lines=4 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r  \\r]\n    1 b pre=3\n"},
        {"<a>x<b/>yy<d/>z</a>", 24,
         "lines=0 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [xyyz]\n    1 b pre=1\n    1 d pre=2\n"},
        {"\n<a>x\r\ny</a>", -1, "lines=1"}, // a line feed opening the file is not the style
        {"<?xml version=\"1.0\"?>\n<!-- note -->\n<r/>\n", -1,
         "lines=2 encoding=2 standalone=-1 utf8=0 main=r\n0 [\\n\\n\\n]\n  2 [ note ] pre=1\n  1 r pre=1\n"},
        {"<r><?go now?><?empty?><![CDATA[<x>]]></r><?tail t?>", 24,
         "0\n  1 r\n    5 go [now]\n    5 empty []\n    3 [<x>]\n  5 tail [t]\n"},
        {"<!DOCTYPE note SYSTEM \"note.dtd\">\n<note/>", 24,
         "main=note\n0 [\\n]\n  4 [<!DOCTYPE note SYSTEM \"note.dtd\">]\n  1 note pre=1\n"},
        {"<!DOCTYPE h PUBLIC \"-//P//EN\" 'say \"hi\".dtd' [<!ENTITY e 'f'>]><h/>", 24,
         "4 [<!DOCTYPE h PUBLIC \"-//P//EN\" 'say \"hi\".dtd' [<!ENTITY e 'f'>]>]"},
        // The subset as written; its comment and instruction are the DOCTYPE's
        // children; &e; arrives as its replacement text, &amp; as "&".
        {"<!DOCTYPE a [\n<!ENTITY e \"vw\">\n<!--c--><?p d?>\n]>\n<a>&e;|&amp;|&#233;</a>", 24,
         "  4 [<!DOCTYPE a [\\n<!ENTITY e \"vw\">\\n\\n]>]\n    2 [c] pre=31\n    5 p [d]\n  1 a [vw|&|\\xE9] pre=1\n"},
        // Flag 24: the file's bytes as they are, and the file is UTF-8 to others.
        {utf8, 24, "utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        // With a byte-order mark the parser decodes UTF-8 whatever the flag.
        // A byte-order mark changes nothing: the bytes stay as they are.
        {"\xEF\xBB\xBF" + utf8, 24, "encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        {utf8, -1, "encoding=2 standalone=-1 utf8=0 main=a\n0\n  1 a [\\xE9] b=\\xE9"},
        {latin1, -1, "encoding=24"},
        {"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", 2, "encoding=2 "},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", 24, "utf8=1"},
        {"<?xml version=\"1.0\"?><a/>", 24, "utf8=1"},
        {"<?xml version=\"1.0\" encoding=\"Windows-1252\"?><a/>", 24, "utf8=0"},
        {latin1, 24, "utf8=0"},
        // Above U+00FF: "?" in names, values and short text; a space for each
        // character of three or four bytes.
        {"<\xC4\x80 v=\"\xE2\x82\xAC\">\xC4\x81\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80\xC3\xBF</\xC4\x80>", -1,
         "1 ? [??  \\xFF] v=?"},
        {"<a><!--\xC4\x80--><?p \xC4\x80?></a>", -1, "    2 [?]\n    5 p [?]"},
        // UTF-16 with its mark; attributes stay in file order.
        {"\xFF\xFE" + widen("<e a=\"1\" b='2'>\r\n\xE9</e>"), 25,
         "lines=1 encoding=25 standalone=-1 utf8=0 main=e\n0\n  1 e [\\r\\n\\xE9] a=1 b=2\n"},
        {"<a>", 24, "status=3 "},
        {"<a/><b/>", 24, "status=9 "},
        {"<a>&undeclared;</a>", 24, "status=11 "},
        {"   \n ", 24, "status=3 lines=2 encoding=24 standalone=-1 utf8=1 main=-"},
    };
    for (const auto& c : cases) {
        std::string tree = load_all_ways(c.bytes, c.flag);
        EXPECT_NE(tree.find(c.seen), std::string::npos) << tree;
    }
}

TEST_F(Load, DetectsLineEndsOfOneBlock) {
    const std::pair<std::string_view, int> cases[] = {
        {"ab\r\ncd", 1},
        {"ab\ncd", 2},
        {"ab\rcd", 4},
        {"\nab\r\n", 1}, // a leading line feed is skipped
        {"abc\r", 0},    // the last byte is never examined alone
        // More than four zero bytes: 16-bit units.
        {std::string_view("<\0a\0>\0\r\0\n\0x\0", 12), 1},
        {std::string_view("<\0a\0>\0\n\0x\0y\0", 12), 2},
        {std::string_view("<\0a\0>\0\r\0x\0y\0", 12), 4},
        {std::string_view("\n\0a\0b\0c\0\r\0\n\0", 12), 1},
    };
    for (const auto& [bytes, style] : cases)
        EXPECT_EQ(detect_line_end_style(bytes.data(), static_cast<std::uint32_t>(bytes.size())), style)
            << show(std::string(bytes).c_str());
}

TEST_F(Load, StatusSlotsAndPartialTrees) {
    write_file(file("empty.xml"), "");
    EXPECT_EQ(xml_load(0, path("empty.xml").c_str(), 24) + xml_load(0, "", 24) + xml_load(0, nullptr, 24), 0);
    EXPECT_EQ(xml_document_get(0), nullptr);
    write_file(file("bad.xml"), "<a>\n<b></a>");
    ASSERT_NE(xml_load(0, path("bad.xml").c_str(), 24), 0);
    xml_document* document = xml_document_get(0);
    EXPECT_EQ(xml_status(0), 7);
    EXPECT_STREQ(document->error_message, "mismatched tag");
    EXPECT_EQ(document->error_line * 100 + document->error_column, 206);
    EXPECT_EQ(dump(document->document_node), "0\n  1 a [\\n]\n    1 b pre=1\n") << "open nodes and all";
    EXPECT_EQ(xml_load(0, path("missing.xml").c_str(), 24), 0);
    EXPECT_EQ(xml_document_get(0), document) << "a failed open leaves the slot as it was";
    std::intptr_t dynamic = xml_load(-1, path("bad.xml").c_str(), 24);
    EXPECT_EQ(xml_root_element(dynamic)->document, dynamic);
    xml_free(dynamic);
    EXPECT_EQ(xml_status(5) + (xml_root_element(5) != nullptr), 0);
    xml_free(5); // nothing there: nothing happens

    // A source that gives fewer bytes than it promised ends the parse as
    // failed, even where that part is well-formed.
    for (auto [bytes, piece] : {std::pair{"<a>x</a>", 16384}, {"<a>x", 3}}) {
        memory_source source{bytes};
        xml_byte_source from{read_memory, &source, 100, piece};
        ASSERT_NE(xml_load_from(0, &from, 24), 0);
        EXPECT_EQ(xml_status(0), XML_STATUS_READ_ERROR) << bytes;
        EXPECT_STREQ(xml_root_element(0)->text, "x");
    }
}

} // namespace
} // namespace quillgate::xmltest
