// The XML layer: the tree and document fields each kind of file gives in
// every chunking, line-end detection and status codes; the exact bytes each
// kind of document saves to, and that they load back as the same tree;
// escapes, attribute edits, refused targets; allocation and I/O failure at
// every point; documents too deep or too wide for recursion. Arbitrary input,
// round trips and paths are the fuzz targets'.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/core/heap.h"
#include "runtime/xml/rewrite.h"
#include "tests/support/results.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using Load = XmlTest;
using Save = XmlTest;
using Robustness = XmlTest;
constexpr int bare = XML_SAVE_NO_DECLARATION;

TEST_F(Load, TreesAndFieldsOfEachKindOfFile) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a b=\"\xC3\xA9\">\xC3\xA9</a>";
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>";
    const struct {
        std::string bytes;
        int flag;
        const char* seen; // a part of the summary
    } cases[] = {
        {"<a>\r\n  <b/>\r\n</a>", ENCODING_8BIT,
         "status=0 lines=1 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r\\n  \\r\\n]\n    1 b pre=4\n"},
        {"<a>\n  <b/>\n</a>", ENCODING_8BIT,
         "lines=2 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\n  \\n]\n    1 b pre=3\n"},
        // CR alone: every line feed the parser reports is stored as CR.
        {"<a>\r  <b/>\r</a>", ENCODING_8BIT,
         "lines=4 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\r  \\r]\n    1 b pre=3\n"},
        {"<a>x<b/>yy<d/>z</a>", ENCODING_8BIT,
         "lines=0 encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [xyyz]\n    1 b pre=1\n    1 d pre=2\n"},
        {"\n<a>x\r\ny</a>", XML_ENCODING_FROM_FILE, "lines=1"}, // a line feed opening the file is not the style
        {"<?xml version=\"1.0\"?>\n<!-- note -->\n<r/>\n", XML_ENCODING_FROM_FILE,
         "lines=2 encoding=2 standalone=-1 utf8=0 main=r\n0 [\\n\\n\\n]\n  2 [ note ] pre=1\n  1 r pre=1\n"},
        {"<r><?go now?><?empty?><![CDATA[<x>]]></r><?tail t?>", ENCODING_8BIT,
         "0\n  1 r\n    5 go [now]\n    5 empty []\n    3 [<x>]\n  5 tail [t]\n"},
        {"<!DOCTYPE note SYSTEM \"note.dtd\">\n<note/>", ENCODING_8BIT,
         "main=note\n0 [\\n]\n  4 [<!DOCTYPE note SYSTEM \"note.dtd\">]\n  1 note pre=1\n"},
        {"<!DOCTYPE h PUBLIC \"-//P//EN\" 'say \"hi\".dtd' [<!ENTITY e 'f'>]><h/>", ENCODING_8BIT,
         "4 [<!DOCTYPE h PUBLIC \"-//P//EN\" 'say \"hi\".dtd' [<!ENTITY e 'f'>]>]"},
        // The subset as written; its comment and instruction are the DOCTYPE's
        // children; &e; arrives as its replacement text, &amp; as "&", a
        // reference in the UTF-8 file's own form.
        {"<!DOCTYPE a [\n<!ENTITY e \"vw\">\n<!--c--><?p d?>\n]>\n<a>&e;|&amp;|&#233;</a>", ENCODING_8BIT,
         "  4 [<!DOCTYPE a [\\n<!ENTITY e \"vw\">\\n\\n]>]\n    2 [c] pre=31\n    5 p [d]\n  1 a [vw|&|\\xC3\\xA9] "
         "pre=1\n"},
        // ENCODING_8BIT: the file's bytes as they are, and the file is UTF-8 to others.
        {utf8, ENCODING_8BIT, "utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        // A byte-order mark changes nothing: the bytes stay as they are.
        {"\xEF\xBB\xBF" + utf8, ENCODING_8BIT,
         "encoding=24 standalone=-1 utf8=1 main=a\n0\n  1 a [\\xC3\\xA9] b=\\xC3\\xA9"},
        {utf8, XML_ENCODING_FROM_FILE, "encoding=2 standalone=-1 utf8=0 main=a\n0\n  1 a [\\xE9] b=\\xE9"},
        {latin1, XML_ENCODING_FROM_FILE, "encoding=24"},
        {"<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>", ENCODING_UTF8, "encoding=2 "},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", ENCODING_8BIT, "utf8=1"},
        {latin1, ENCODING_8BIT, "utf8=0"},
        // Above U+00FF: held behind the marker in values and element text;
        // "?" in names, comments and instructions, which cannot hold it.
        {"<\xC4\x80 v=\"\xE2\x82\xAC\">\xC4\x81\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80\xC3\xBF</\xC4\x80>",
         XML_ENCODING_FROM_FILE,
         "1 ? [\\x01\\xC4\\x81\\x01\\xDF\\xBF\\x01\\xE0\\xA0\\x80\\x01\\xF0\\x9F\\x98\\x80\\xFF] "
         "v=\\x01\\xE2\\x82\\xAC"},
        {"<a><!--\xC4\x80--><?p \xC4\x80?></a>", XML_ENCODING_FROM_FILE, "    2 [?]\n    5 p [?]"},
        // UTF-16 with its mark; attributes stay in file order.
        {"\xFF\xFE" + widen("<e a=\"1\" b='2'>\r\n\xE9</e>"), ENCODING_UTF16,
         "lines=1 encoding=25 standalone=-1 utf8=0 main=e\n0\n  1 e [\\r\\n\\xE9] a=1 b=2\n"},
        // Each character above U+00FF that became "?" or a space is counted.
        {"<\xC4\x80 v='\xE2\x82\xAC \xC3\xA9'><!--\xF0\x9F\x98\x80-->&#x100;</\xC4\x80>", ENCODING_UTF8, "repl=2 "},
        // 8-bit files: a reference in the form of the declared set, else
        // held; the file's own bytes as they are.
        {"<?xml version='1.0' encoding='windows-1251'?><a v='&#x0422;\xD2'>&#x516C;&#20844;&#xE9;\xE9</a>",
         ENCODING_8BIT,
         "repl=0 status=0 lines=0 encoding=24 standalone=-1 utf8=0 main=a\n0\n  1 a "
         "[\\x01\\xE5\\x85\\xAC\\x01\\xE5\\x85\\xAC\\x01\\xC3\\xA9\\xE9] v=\\xD2\\xD2\n"},
        {"<a>", ENCODING_8BIT, "status=3 "},
        {"   \n ", ENCODING_8BIT, "status=3 lines=2 encoding=24 standalone=-1 utf8=1 main=-"},
    };
    for (const auto& c : cases) {
        std::string tree = load_all_ways(c.bytes, c.flag);
        EXPECT_NE(tree.find(c.seen), std::string::npos) << tree;
    }
    // UTF-16 line ends are found on whole units, past characters with a byte
    // 0x0A or 0x0D, with and without the mark.
    for (char16_t c : {u'\u4E0D', u'\u010D', u'\u4E0A', u'\u300A'}) {
        std::string body =
            widen("<r>") + std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)} + widen("\r\n</r>");
        for (const std::string& file : {"\xFF\xFE" + body, body})
            EXPECT_NE(load_all_ways(file, ENCODING_UTF16).find("lines=1 "), std::string::npos) << int{c};
    }
}

// Each form holds a character one way, and reads back what it holds; a
// byte that means nothing in the form reads back as nothing.
TEST_F(Load, HeldCharactersReadBackAsTheyWereHeld) {
    const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?><a/>";
    const std::string cyrillic = "<?xml version='1.0' encoding='windows-1251'?><a/>";
    const struct {
        const std::string& file;
        std::uint32_t character;
        std::string held;
    } rows[] = {
        {"<a/>", 0x516C, "\xE5\x85\xAC"},
        {latin1, 0xE9, "\xE9"},
        {latin1, 0x516C, "\x01\xE5\x85\xAC"},
        {cyrillic, 0x0422, "\xD2"},
        {cyrillic, 0x1F600, "\x01\xF0\x9F\x98\x80"},
    };
    for (const auto& row : rows) {
        ASSERT_NE(load_memory(0, row.file, ENCODING_8BIT), 0);
        char held[xml_held_max];
        const int size = xml_hold_character(xml_document_get(0), row.character, held);
        EXPECT_EQ(std::string(held, static_cast<std::size_t>(size)), row.held) << row.character;
        text units;
        ASSERT_TRUE(xml_held_to_utf16(xml_document_get(0), held, static_cast<std::size_t>(size), &units));
        std::string expected = row.character < 0x10000 ? std::string{static_cast<char>(row.character & 0xFF),
                                                                     static_cast<char>(row.character >> 8)}
                                                       : std::string("\x3D\xD8\x00\xDE", 4);
        EXPECT_EQ(std::string(units.view()), expected) << row.character;
    }
    // What a byte means in the document in slot 0: no character is nothing,
    // a failure is memory short.
    const auto means = [](std::string_view held, text units = {}) -> std::string {
        return xml_held_to_utf16(xml_document_get(0), held.data(), held.size(), &units) ? std::string(units.view())
                                                                                        : "failed";
    };
    ASSERT_NE(load_memory(0, "<?xml version='1.0' encoding='x-no-such-set'?><a/>", ENCODING_8BIT), 0);
    EXPECT_EQ(means("\xD2"), "") << "a set the system does not know";
    ASSERT_NE(load_memory(0, "<a/>", ENCODING_8BIT), 0);
    EXPECT_EQ(means("\xFF") + "|" + means("\x01&e;"), "|") << "no UTF-8; an entity reference";
    heap_fail_after(0);
    EXPECT_EQ(means("a"), "failed");
    heap_fail_after(-1);
}

TEST_F(Load, StatusSlotsAndPartialTrees) {
    write_file(path("empty.xml"), "");
    EXPECT_EQ((results{xml_load(0, path("empty.xml").c_str(), ENCODING_8BIT), xml_load(0, "", ENCODING_8BIT),
                       xml_load(0, nullptr, ENCODING_8BIT)}),
              (results{0, 0, 0}));
    EXPECT_EQ(xml_document_get(0), nullptr);
    write_file(path("bad.xml"), "<a>\n<b></a>");
    ASSERT_NE(xml_load(0, path("bad.xml").c_str(), ENCODING_8BIT), 0);
    xml_document* document = xml_document_get(0);
    EXPECT_EQ(xml_status(0), 7);
    EXPECT_STREQ(document->error_message, "mismatched tag");
    EXPECT_EQ((results{document->error_line, document->error_column}), (results{2, 6}));
    EXPECT_EQ(dump(document->document_node), "0\n  1 a [\\n]\n    1 b pre=1\n") << "open nodes and all";
    EXPECT_EQ(xml_load(0, path("missing.xml").c_str(), ENCODING_8BIT), 0);
    EXPECT_EQ(xml_document_get(0), document) << "a failed open leaves the slot as it was";
    std::intptr_t dynamic = xml_load(new_object, path("bad.xml").c_str(), ENCODING_8BIT);
    EXPECT_EQ(xml_root_element(dynamic)->document, dynamic);
    xml_free(dynamic);
    EXPECT_EQ((results{xml_status(5), xml_root_element(5) != nullptr}), (results{0, false}));
    xml_free(5); // nothing there: nothing happens

    // A source that gives fewer bytes than it promised ends the parse as
    // failed, even where that part is well-formed.
    for (auto [bytes, piece] : {std::pair{"<a>x</a>", 16384}, {"<a>x", 3}}) {
        ASSERT_NE(load_memory(0, bytes, ENCODING_8BIT, piece, 100), 0);
        EXPECT_EQ(xml_status(0), XML_STATUS_READ_ERROR) << bytes;
        EXPECT_STREQ(xml_root_element(0)->text, "x");
    }
}

// Gives a node a text of the test's choosing, as an owned block.
void set_text(xml_node* node, const std::string& text) {
    if (xml_separately_owned(node->text)) heap_free(node->text);
    node->text = static_cast<char*>(std::memcpy(heap_alloc(text.size() + 1), text.c_str(), text.size() + 1));
}

TEST_F(Save, BytesOfEachKindOfDocument) {
    const std::string utf8_head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    const std::string body = "\r\n<NotepadPlus>\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
                             "    </FileBrowser>\r\n</NotepadPlus>\r\n";
    std::string launchers = utf8_head + body;
    launchers.erase(launchers.find(" />"), 1); // empty elements lose the space before "/>"
    const struct {
        std::string bytes;
        int flag, save_flags;
        std::string saved;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\" ?>" + body, ENCODING_8BIT, 0, launchers},
        // Declared in another 8-bit encoding, or marked, it stays ISO-8859-1.
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>", ENCODING_8BIT, 0,
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xE9</a>"},
        // A UTF-8 file with a byte-order mark keeps it, and its bytes as they are.
        {"\xEF\xBB\xBF<a>\xC3\xA9</a>", ENCODING_8BIT, 0,
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>"},
        {"<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a></a><b /><c> \n </c><d q='it\"s' "
         "t=\"a&#9;\\b&#10;\"/><?p?><?q data?><!--n--><![CDATA[ < ]]></r>",
         ENCODING_8BIT, bare,
         "<!DOCTYPE r [<!--inside--><!ENTITY e 'x'>]><r><a/><b/><c> \n </c><d q=\"it&quot;s\" t=\"a&#9;\\b&#10;\"/>"
         "<?p ?><?q data?><!--n--><![CDATA[ < ]]></r>"},
        {"<?xml version='1.0' standalone='yes'?><r/>", ENCODING_UTF8, 0,
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r/>"},
        {"\xFF\xFE" + widen("<?xml version='1.0' standalone='no'?><r/>"), ENCODING_UTF16, 0,
         widen("<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?><r/>")},
        {"\xFF\xFE" + widen("<a/>"), ENCODING_UTF16, XML_SAVE_BOM | bare, "\xFF\xFE" + widen("<a/>")},
        {"<a/>", ENCODING_UTF8, XML_SAVE_BOM | bare, "\xEF\xBB\xBF<a/>"},
        // The internal subset keeps its comments and instructions in place.
        {"<!DOCTYPE r [\n<!-- c -->\n<?p d?>\n<!ENTITY e 'x'>\n]>\n<r/>", ENCODING_8BIT, 0,
         utf8_head + "\n<!DOCTYPE r [\n<!-- c -->\n<?p d?>\n<!ENTITY e 'x'>\n]>\n<r/>"},
        // What a reader would change: a tab in a value, a CR that is no line end.
        {"<r a='x&#9;y'>1&#13;2\n3</r>", ENCODING_8BIT, 0, utf8_head + "\n<r a=\"x&#9;y\">1&#13;2\n3</r>"},
        {"<r>1&#13;2\r\n3&#13;</r>", ENCODING_8BIT, 0, utf8_head + "\r\n<r>1&#13;2\r\n3&#13;</r>"},
        // A UTF-8 file's bytes go out as they stood, UTF-8 or not; its
        // references as UTF-8; an entity it does not read as its reference.
        {"<r a='&#233;\xFF\xFE\xC3'>&#163;\xC3\xA9</r>", ENCODING_8BIT, 0,
         utf8_head + "<r a=\"\xC3\xA9\xFF\xFE\xC3\">\xC2\xA3\xC3\xA9</r>"},
        {"<!DOCTYPE r [<!ENTITY x SYSTEM 'x.xml'>]><r>&x;&amp;</r>", ENCODING_8BIT, bare,
         "<!DOCTYPE r [<!ENTITY x SYSTEM 'x.xml'>]><r>&x;&amp;</r>"},
        // An internal entity's text: its UTF-8 bytes stay, its reference becomes UTF-8.
        {"<!DOCTYPE r [<!ENTITY e '&#233;\xC3\xA9'>]><r a='&e;'>&e;</r>", ENCODING_8BIT, bare,
         "<!DOCTYPE r [<!ENTITY e '&#233;\xC3\xA9'>]><r a=\"\xC3\xA9\xC3\xA9\">\xC3\xA9\xC3\xA9</r>"},
        // Another 8-bit set keeps its name and its bytes; what it lacks goes
        // out as a reference, one spelling for each character.
        {"<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n<a b='&#20844;'>\x80&#x20AC;&#x516c;</a>", ENCODING_8BIT,
         0, "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n<a b=\"&#x516C;\">\x80\x80&#x516C;</a>"},
        // A UTF-16 file keeps every character under ISO-8859-1.
        {"\xFF\xFE" + widen("<a>x") + std::string("\x6C\x51", 2) + widen("</a>"), ENCODING_8BIT, 0,
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>x&#x516C;</a>"},
        {"\xEF\xBB\xBF<r a='\xE4\xB8\x8A'>\xF0\x9F\x98\x80</r>", ENCODING_8BIT, 0,
         "\xEF\xBB\xBF" + utf8_head + "<r a=\"\xE4\xB8\x8A\">\xF0\x9F\x98\x80</r>"},
        {"x", ENCODING_8BIT, bare, ""}, // nothing at all in the document node
    };
    for (const auto& c : cases) {
        ASSERT_NE(load_memory(0, c.bytes, c.flag), 0);
        EXPECT_EQ(saved(0, c.save_flags), c.saved) << show(c.bytes.c_str());
    }
}

TEST_F(Save, EscapesTextRunsAndWhatIsWrittenAsItStands) {
    ASSERT_NE(load_memory(0, "<a v=''>x<b/>yy<c/>z<!--c--><![CDATA[d]]></a>", ENCODING_8BIT), 0);
    xml_node* a = xml_root_element(0);
    set_text(a, "<>&'\"\n\r\t\x02\xE9");
    xml_set_attribute(a, "v", "<>&'\"\n\r\t\x02\xE9");
    const std::string text = "&lt;&gt;&amp;'\"", value = "&lt;&gt;&amp;&apos;&quot;&#10;&#13;&#9;\x02";
    const std::string children = "<b/><c/><!--a--b--><![CDATA[]]>]]>"; // comment and CDATA texts unchanged
    set_text(xml_node_from_path(a, "#comment"), "a--b");
    set_text(xml_node_from_path(a, "#cdata"), "]]>");
    for (xml_node* child = a->first_child; child != nullptr; child = child->next_sibling)
        child->preceding_text_length = 0;
    // A line feed in the text of a CR LF document is no line end of it.
    for (auto [encoding, style, e9] : {std::tuple{ENCODING_8BIT, XML_LINE_END_NONE, "\xE9"},
                                       {ENCODING_UTF8, XML_LINE_END_NONE, "\xC3\xA9"},
                                       {ENCODING_UTF16, XML_LINE_END_NONE, "\xE9"},
                                       {ENCODING_8BIT, XML_LINE_END_CRLF, "\xE9"}}) {
        xml_document_get(0)->encoding = encoding;
        xml_document_get(0)->line_end_style = style;
        std::string expected = "<a v=\"" + value + e9 + "\">" + children + text +
                               (style == XML_LINE_END_CRLF ? "&#10;" : "\n") + "&#13;\t\x02" + e9 + "</a>";
        EXPECT_EQ(saved(0, bare), encoding == ENCODING_UTF16 ? widen(expected) : expected) << encoding;
    }
    // A count that runs past the text: the rest goes before the child; large
    // texts cross the 4096-byte buffer in whole units.
    xml_document_get(0)->line_end_style = XML_LINE_END_NONE;
    std::string big(5000, 'a');
    big[4095] = '&';
    set_text(a, big);
    xml_node_from_path(a, "c")->preceding_text_length = 100000;
    big.replace(4095, 1, "&amp;");
    EXPECT_TRUE(saved(0, bare) == "<a v=\"" + value + "\xE9\"><b/>" + big + "<c/><!--a--b--><![CDATA[]]>]]></a>");

    // The emitters on their own: lengths, absent texts, mode 2.
    std::uint8_t buffer[xml_save_buffer_size];
    xml_writer writer{buffer, xml_save_buffer_size, nullptr, xml_writer_flush, buffer, 0};
    EXPECT_EQ(
        (results{xml_emit_latin1("<&\n", -1, ESCAPE_NONE, &writer), xml_emit_latin1("<>&", 2, ESCAPE_TEXT, &writer),
                 xml_emit_utf8("\x80\xFF", 100, ESCAPE_ATTRIBUTE, &writer),
                 xml_emit_utf16(nullptr, -1, ESCAPE_TEXT, &writer), xml_emit_utf16("&", 1, ESCAPE_TEXT, &writer)}),
        (results{1, 1, 1, 1, 1}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), xml_save_buffer_size - writer.room),
              "<&\n&lt;&gt;\xC2\x80\xC3\xBF" + widen("&amp;"));
}

TEST_F(Save, FailuresLeaveTheTargetAsItWas) {
    ASSERT_NE(load_memory(0, "<a/>", ENCODING_8BIT), 0);
    for (const std::string& target : {path("no-such-folder/x.xml"), std::string(), folder_.string()})
        EXPECT_EQ(xml_save(0, target.c_str()), 0) << target;
    EXPECT_EQ((results{xml_save(0, nullptr), xml_save(4, path("x.xml").c_str())}), (results{0, 0}))
        << "no path, no document in slot 4";
    write_file(path("ro.xml"), "old");
    std::filesystem::permissions(path("ro.xml"), std::filesystem::perms::owner_read);
    EXPECT_EQ(xml_save(0, path("ro.xml").c_str()), 0);
    std::filesystem::permissions(path("ro.xml"), std::filesystem::perms::owner_all);
    EXPECT_EQ(read_file(path("ro.xml")), "old");
    EXPECT_EQ(listing(), std::vector<std::string>{"ro.xml"}) << "no temporary file left";
}

// Paths to the configuration's nodes; the path rules over arbitrary paths are
// the node-path fuzz target's.
TEST_F(Save, AttributesAreReplacedInPlaceOrAppendedFourPairsAtATime) {
    ASSERT_NE(load_memory(0,
                          "<!DOCTYPE NotepadPlus>\n<NotepadPlus><FileBrowser><root foldername=\"C:\\a\\\"/>"
                          "<!--one--><?pi x?><root n=\"2\"/><![CDATA[d]]></FileBrowser></NotepadPlus>",
                          ENCODING_8BIT),
              0);
    xml_node* main = xml_root_element(0);
    EXPECT_EQ(xml_node_from_path(main, nullptr), main);
    xml_node* root = xml_node_from_path(main, "/NotepadPlus/FileBrowser/root");
    xml_set_attribute(root, "extra", "1");
    xml_set_attribute(root, "foldername", "<\"&'>");
    xml_set_attribute(root, "Foldername", nullptr);
    xml_set_attribute(root, nullptr, "v");
    EXPECT_EQ(dump(root), "1 root foldername=<\"&'> extra=1 Foldername= =v\n");
    EXPECT_EQ(root->attribute_spare, 1); // one loaded pair, grown by four at the first append
    xml_node* browser = xml_node_from_path(main, "FileBrowser");
    std::vector<std::size_t> sizes;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        xml_set_attribute(browser, name, "v");
        sizes.push_back(heap_block_size(browser->attributes) / sizeof(char*));
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 8, 8, 8, 16}));
    EXPECT_EQ(browser->attribute_spare, 3);
    xml_node* comment = xml_node_from_path(main, "FileBrowser/#comment");
    EXPECT_FALSE(xml_set_attribute_checked(comment, "a", "b")) << "not an element";
    EXPECT_EQ(comment->attributes, nullptr);
    xml_set_attribute(nullptr, "a", "b");

    // Appending, then replacing, with an allocation failing at each point:
    // a failed edit leaves the node as it was.
    root = xml_node_from_path(main, "FileBrowser/root[2]");
    for (const char* name : {"new", "n"}) {
        for (long n = 0;; ++n) {
            const std::string before = dump(root);
            heap_fail_after(n);
            const bool set = xml_set_attribute_checked(root, name, "value");
            bool failed = heap_fault_fired();
            heap_fail_after(-1);
            EXPECT_EQ(set, !failed) << "reported as it went: " << name << " " << n;
            if (!failed) break;
            EXPECT_EQ(dump(root), before) << name << " " << n;
        }
    }
    EXPECT_EQ(dump(root), "1 root n=value new=value\n");
    EXPECT_EQ((std::pair{std::string(xml_attribute(root, "new")), xml_attribute(root, "none")}),
              (std::pair{std::string("value"), static_cast<const char*>(nullptr)}));
}

// Rewriting character data: the count of changes, or a failure that is told
// apart from no change at all.
TEST_F(Save, RewriteReportsItsChangesOrItsFailure) {
    ASSERT_NE(load_memory(0, "<a v=\"kk\">k<b>zz</b>k<![CDATA[k]]><!--k--></a>", ENCODING_8BIT), 0);
    xml_document* document = xml_document_get(0);
    const xml_rewrite_piece upper_k = [](void*, std::string_view piece, text* replacement, long* changes) {
        std::string out(piece);
        long count = 0;
        for (char& c : out) count += c == 'k' ? (c = 'K', 1) : 0;
        if (count > 0) *replacement = text::copy(out);
        *changes = count;
        return count == 0 || !replacement->empty();
    };
    const xml_rewrite_piece refuse = [](void*, std::string_view, text*, long*) { return false; };
    long changes[] = {-7, -7, -7};
    EXPECT_EQ((results{xml_rewrite_character_data(document, upper_k, nullptr, &changes[0]),
                       xml_rewrite_character_data(document, upper_k, nullptr, &changes[1]),
                       xml_rewrite_character_data(document, refuse, nullptr, &changes[2])}),
              (results{true, true, false}));
    EXPECT_EQ((results{changes[0], changes[1], changes[2]}), (results{5, 0, -7})) << "a failure leaves the count";
    EXPECT_STREQ(xml_attribute(xml_root_element(0), "v"), "KK");
}

const char* const config =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<!DOCTYPE NotepadPlus [<!ENTITY e \"x\">]>\r\n<NotepadPlus>\r\n"
    "    <GUIConfigs>\r\n        <GUIConfig name=\"caf\xC3\xA9\" v='&e;'>long text &amp; more</GUIConfig>\r\n"
    "    </GUIConfigs>\r\n    <!-- c -->\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
    "    </FileBrowser>\r\n</NotepadPlus>\r\n";

// Load, edit and save as the launcher does (with its flag 24), with whatever
// faults are armed; true when every step succeeded.
bool launcher_steps(const std::string& target, int flag) {
    if (xml_load(0, target.c_str(), flag) == 0 || xml_status(0) != 0) return false;
    xml_node* root = xml_node_from_path(xml_root_element(0), "/NotepadPlus/FileBrowser/root");
    if (root == nullptr) return false;
    return xml_set_attribute_checked(root, "foldername", "D:\\kit\\work") && xml_save(0, target.c_str()) == 1;
}

TEST_F(Robustness, AllocationAndIoFailureAtEveryPoint) {
    const std::string target = path("config.xml");
    // Text longer than the save buffer, so that writes fail inside the walk
    // too, which the saver runs apart for each output encoding: 8-bit, and
    // UTF-16 for a UTF-16 file loaded as it declares itself.
    std::string utf8 = config;
    utf8.replace(utf8.find("long text"), 9, std::string(6000, 'x'));
    std::string utf16 = utf8;
    utf16.replace(utf16.find("UTF-8"), 5, "UTF-16");
    for (auto [original, flag] :
         {std::pair{utf8, ENCODING_8BIT}, {"\xFF\xFE" + widen(utf16), XML_ENCODING_FROM_FILE}}) {
        write_file(target, original);
        ASSERT_TRUE(launcher_steps(target, flag));
        const std::string expected = read_file(target);
        ASSERT_NE(expected, original);
        // Allocations, then I/O failing once, then for good, at every point in
        // turn until none fires: the file is untouched or wholly replaced, no
        // temporary is left, a load cut short says why, and nothing leaks.
        for (int fault : {0, 1, 2}) {
            long n = -1; // ends as the number of failure points
            for (bool fired = true; fired;) {
                ++n;
                write_file(target, original);
                if (fault == 0) heap_fail_after(n);
                else io_fail_after(n, fault == 2);
                bool done = launcher_steps(target, flag);
                fired = fault == 0 ? heap_fault_fired() : io_fault_fired();
                heap_fail_after(-1);
                io_fail_after(-1);
                EXPECT_EQ(read_file(target), done ? expected : original) << "fault " << fault << " at " << n;
                EXPECT_EQ(listing(), std::vector<std::string>{"config.xml"}) << n;
                const int status = xml_document_get(0) ? xml_status(0) : 0;
                const int cut_short = fault ? XML_STATUS_READ_ERROR : XML_STATUS_OUT_OF_MEMORY;
                EXPECT_TRUE(status == 0 || status == cut_short) << "status " << status << " at " << n;
                xml_free(0);
            }
            EXPECT_GE(n, fault == 0 ? 20 : 3); // I/O: a read, a write, the flush and the move at least
            std::printf("failure points of load, edit and save (%s): %ld\n", fault ? "I/O" : "allocation", n);
        }
    }
}

TEST_F(Robustness, MillionLevelsAndMillionSiblings) {
    const std::size_t million = 1000000;
    std::string deep, wide;
    for (std::size_t i = 0; i < million; ++i) deep += "<a>";
    for (std::size_t i = 0; i < million; ++i) deep += "</a>";
    for (std::size_t i = 0; i < million; ++i) wide += " <b/>\n";
    // The innermost element saves as empty.
    for (const std::string& input : {deep, "<r>\n" + wide + "</r>"}) {
        ASSERT_NE(load_memory(0, input, ENCODING_8BIT), 0);
        ASSERT_EQ(xml_status(0), 0);
        std::string expected = input;
        if (input[1] == 'a') expected.replace(million * 3 - 3, 7, "<a/>");
        EXPECT_TRUE(saved(0, bare) == expected);
    }
}

} // namespace
} // namespace quillgate::xmltest
