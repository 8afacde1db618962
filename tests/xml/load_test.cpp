// Loading: layout kept on the tree, line ends, prolog and epilog, special
// nodes, encodings, status codes and slots.
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Load = XmlTest;

TEST_F(Load, TextAndLineEndsFollowTheFile) {
    const std::pair<const char*, const char*> cases[] = {
        {"<a>\r\n  <b/>\r\n</a>",
         "lines=1 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r\\n  \\r\\n]\n    1 b pre=4\n"},
        {"<a>\n  <b/>\n</a>", "lines=2 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\n  \\n]\n    1 b pre=3\n"},
        // CR alone: every line feed the parser reports is stored as CR.
        {"<a>\r  <b/>\r</a>", "lines=4 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r  \\r]\n    1 b pre=3\n"},
        {"<a>x<b/>yy<d/>z</a>",
         "lines=0 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [xyyz]\n    1 b pre=1\n    1 d pre=2\n"},
    };
    for (const auto& [bytes, tree] : cases) EXPECT_EQ(load_all_ways(bytes, 24), std::string("status=0 ") + tree);
    // A line feed opening the file is not the style; the next line end is.
    EXPECT_NE(load_all_ways("\n<a>x\r\ny</a>", -1).find("lines=1"), std::string::npos);
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

TEST_F(Load, PrologEpilogAndDoctype) {
    EXPECT_EQ(
        load_all_ways("<?xml version=\"1.0\"?>\n<!-- note -->\n<r/>\n", -1),
        "status=0 lines=2 encoding=2 standalone=-1 utf8=0 main=r\n0 [\\n\\n\\n]\n  2 [ note ] pre=1\n  1 r pre=1\n");
    EXPECT_EQ(load_all_ways("<r><?go now?><?empty?><![CDATA[<x>]]></r><?tail t?>", 24),
              "status=0 lines=0 encoding=24 standalone=-1 utf8=1 main=r\n0\n  1 r\n    5 go [now]\n    5 empty []\n"
              "    3 [<x>]\n  5 tail [t]\n");
    EXPECT_EQ(load_all_ways("<!DOCTYPE note SYSTEM \"note.dtd\">\n<note/>", 24),
              "status=0 lines=2 encoding=24 standalone=-1 utf8=1 main=note\n0 [\\n]\n"
              "  4 [<!DOCTYPE note SYSTEM \"note.dtd\">]\n  1 note pre=1\n");
    // The subset as written; its comment and instruction are the DOCTYPE's
    // children; &e; arrives as its replacement text, &amp; as "&".
    EXPECT_EQ(
        load_all_ways("<!DOCTYPE a [\n<!ENTITY e \"vw\">\n<!--c--><?p d?>\n]>\n<a>&e;|&amp;|&#233;</a>", 24),
        "status=0 lines=2 encoding=24 standalone=-1 utf8=1 main=a\n0 [\\n]\n"
        "  4 [<!DOCTYPE a [\\n<!ENTITY e \"vw\">\\n\\n]>]\n    2 [c] pre=31\n    5 p [d]\n  1 a [vw|&|\\xE9] pre=1\n");
}

TEST_F(Load, ComposesDoctypeOpenings) {
    auto compose = [](const char* name, const char* system_id, const char* public_id, int subset) {
        char* made = xml_compose_doctype(name, system_id, public_id, subset);
        std::string out = made != nullptr ? made : "<null>";
        heap_free(made);
        return out;
    };
    EXPECT_EQ(compose("note", nullptr, nullptr, 1), "<!DOCTYPE note [");
    EXPECT_EQ(compose("h", "x.dtd", "-//P//EN", 0), "<!DOCTYPE h PUBLIC \"-//P//EN\" \"x.dtd\">");
    EXPECT_EQ(compose("h", "say \"hi\".dtd", "-//P//EN", 1), "<!DOCTYPE h PUBLIC \"-//P//EN\" 'say \"hi\".dtd' [");
    heap_fail_after(0);
    EXPECT_EQ(compose("n", nullptr, nullptr, 0), "<null>");
}

TEST_F(Load, EncodingFlagDecidesHowBytesReachTheTree) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a b=\"\xC3\xA9\">\xC3\xA9</a>";
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>";
    const struct {
        std::string bytes;
        int flag;
        const char* seen;
    } cases[] = {
        // Flag 24: the file's bytes as they are, and the file is UTF-8 to others.
        {utf8, 24, "utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        // A byte-order mark changes nothing: the bytes stay as they are.
        {"\xEF\xBB\xBF" + utf8, 24, "encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        {utf8, -1, "encoding=2 standalone=-1 utf8=0 main=a\n0\n  1 a [\\xE9] b=\\xE9"},
        {latin1, -1, "encoding=24"},
        {"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", 2, "encoding=2 "},
        // Which flag-24 files declare UTF-8 when saved.
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", 24, "utf8=1"},
        {"<?xml version=\"1.0\"?><a/>", 24, "utf8=1"},
        {"<?xml version=\"1.0\" encoding=\"Windows-1252\"?><a/>", 24, "utf8=0"},
        {latin1, 24, "utf8=0"},
    };
    for (const auto& c : cases) {
        std::string tree = load_all_ways(c.bytes, c.flag);
        EXPECT_NE(tree.find(c.seen), std::string::npos) << tree;
    }
}

TEST_F(Load, CharactersBeyondOneByteAndUtf16) {
    // U+0101 and U+07FF in text: "?"; U+0800 and U+1F600: one space each;
    // above U+00FF in names and attribute values: "?".
    std::string out = load_all_ways("<\xC4\x80 v=\"\xE2\x82\xAC\">\xC4\x81\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80"
                                    "\xC3\xBF</\xC4\x80>",
                                    -1);
    EXPECT_NE(out.find("1 ? [??  \\xFF] v=?"), std::string::npos) << out;
    out = load_all_ways("<a><!--\xC4\x80--><?p \xC4\x80?></a>", -1);
    EXPECT_NE(out.find("2 [?]"), std::string::npos) << out;
    EXPECT_NE(out.find("5 p [?]"), std::string::npos) << out;
    // UTF-16 with its mark; attributes stay in file order.
    EXPECT_EQ(load_all_ways("\xFF\xFE" + widen("<e a=\"1\" b='2'>\r\n\xE9</e>"), 25),
              "status=0 lines=1 encoding=25 standalone=-1 utf8=0 main=e\n"
              "0\n  1 e [\\r\\n\\xE9] a=1 b=2\n");
}

TEST_F(Load, StatusOfEmptyWhitespaceAndMalformedFiles) {
    write_file(file("empty.xml"), "");
    EXPECT_EQ(xml_load(0, path("empty.xml").c_str(), 24), 0);
    EXPECT_EQ(xml_document_get(0), nullptr);
    EXPECT_EQ(xml_load(0, "", 24), 0);
    EXPECT_EQ(xml_load(0, nullptr, 24), 0);

    write_file(file("bad.xml"), "<a>\n<b></a>");
    EXPECT_NE(xml_load(0, path("bad.xml").c_str(), 24), 0);
    xml_document* document = xml_document_get(0);
    EXPECT_EQ(xml_status(0), 7);
    EXPECT_STREQ(document->error_message, "mismatched tag");
    EXPECT_EQ(document->error_line, 2);
    EXPECT_EQ(document->error_column, 6);
    // The partial tree stays, open nodes and all.
    EXPECT_EQ(dump(document->document_node), "0\n  1 a [\\n]\n    1 b pre=1\n");

    for (auto [bytes, status] : {std::pair{"<a>", 3}, {"<a/><b/>", 9}, {"<a>&undeclared;</a>", 11}}) {
        EXPECT_NE(load_memory(0, bytes, 24), 0);
        EXPECT_EQ(xml_status(0), status) << bytes;
    }
    EXPECT_NE(load_memory(0, "   \n ", 24), 0);
    EXPECT_EQ(xml_status(0), 3);
    EXPECT_EQ(xml_root_element(0), nullptr);
    EXPECT_STREQ(xml_document_get(0)->error_message, "no element found");
    EXPECT_EQ(xml_status(5), 0);
    EXPECT_EQ(xml_root_element(5), nullptr);
    xml_free(5); // nothing there: nothing happens
}

TEST_F(Load, SlotsAndDynamicDocuments) {
    write_file(file("one.xml"), "<one/>");
    write_file(file("two.xml"), "<two/>");
    ASSERT_NE(xml_load(0, path("one.xml").c_str(), 24), 0);
    EXPECT_EQ(xml_load(0, path("missing.xml").c_str(), 24), 0);
    EXPECT_STREQ(xml_root_element(0)->name, "one") << "a failed open leaves the slot as it was";
    ASSERT_NE(xml_load(0, path("two.xml").c_str(), 24), 0);
    EXPECT_STREQ(xml_root_element(0)->name, "two");
    EXPECT_EQ(xml_root_element(0)->document, 0);

    std::intptr_t dynamic = xml_load(-1, path("one.xml").c_str(), 24);
    ASSERT_NE(dynamic, 0);
    EXPECT_EQ(xml_root_element(dynamic)->document, dynamic);
    xml_free(dynamic);
    xml_free(0);
    EXPECT_EQ(xml_document_get(0), nullptr);
}

TEST_F(Load, FileThatShrinksWhileReadEndsTheParseAsFailed) {
    // The source promised more bytes than it gives: the parse ends with
    // what arrived instead of waiting for bytes that never come, and the
    // load fails even where that part happens to be well-formed, so the
    // partial tree is never taken for the file.
    for (auto [bytes, piece] : {std::pair{"<a>x</a>", 16384}, {"<a>x", 3}}) {
        memory_source source{bytes};
        xml_byte_source from{read_memory, &source, 100, piece};
        ASSERT_NE(xml_load_from(0, &from, 24), 0);
        EXPECT_EQ(xml_status(0), XML_STATUS_READ_ERROR) << bytes;
        EXPECT_STREQ(xml_root_element(0)->text, "x");
    }
}

TEST_F(Load, StringPoolHandsOutNoMultipleOfEight) {
    ASSERT_NE(load_memory(0, "<a b='c'>text</a>", 24), 0);
    xml_document* document = xml_document_get(0);
    for (int i = 0; i < 200; ++i)
        EXPECT_FALSE(xml_separately_owned(xml_pool_alloc(document, static_cast<std::size_t>(i % 9)))) << i;
    // Large requests and the first block's overflow are blocks of their own.
    void* large = xml_pool_alloc(document, 2000);
    EXPECT_TRUE(xml_separately_owned(large));
    heap_free(large);
    EXPECT_EQ(document->string_pool->size, xml_pool_block_size);
    EXPECT_FALSE(xml_separately_owned(xml_root_element(0)->name));
    EXPECT_FALSE(xml_separately_owned(xml_root_element(0)->text));
    // The document node is never closed: its text stays a block of its own.
    ASSERT_NE(load_memory(0, " <a/> ", 24), 0);
    EXPECT_TRUE(xml_separately_owned(xml_document_get(0)->document_node->text));
}

} // namespace
} // namespace quillgate::xmltest
