// Round trips that keep what a file means: the smallest files that lost a
// comment, a character or a line end on their way through load and save.
#include "launcher/sync.h"
#include "runtime/files/files.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using RoundTrip = XmlTest;

const std::string utf8_head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// UTF-16 little-endian bytes of the given units.
std::string utf16(std::u16string_view units) {
    std::string out;
    for (char16_t u : units) out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    return out;
}

TEST_F(RoundTrip, SavedFilesMeanWhatTheyMeant) {
    const struct {
        std::string in;
        std::string out; // saved, after the declaration (or the mark)
    } cases[] = {
        // The internal subset keeps its comments and instructions in place.
        {"<!DOCTYPE r [\n<!-- c -->\n<?p d?>\n<!ENTITY e 'x'>\n]>\n<r/>",
         "<!DOCTYPE r [\n<!-- c -->\n<?p d?>\n<!ENTITY e 'x'>\n]>\n<r/>"},
        // What a reader would change: a tab in a value, a CR that is no line end.
        {"<r a='x&#9;y'>1&#13;2\n3</r>", "<r a=\"x&#9;y\">1&#13;2\n3</r>"},
        {"<r>1&#13;2\r\n3&#13;</r>", "<r>1&#13;2\r\n3&#13;</r>"},
        // Bytes that are no UTF-8 go out as references, UTF-8 as it is.
        {"<r a='&#233;'>&#163;\xC3\xA9</r>", "<r a=\"&#233;\">&#163;\xC3\xA9</r>"},
        // Behind a UTF-8 mark the bytes are kept as they are; the mark goes back.
        {"\xEF\xBB\xBF<r a='\xE4\xB8\x8A'>\xF0\x9F\x98\x80</r>",
         "\xEF\xBB\xBF" + utf8_head + "<r a=\"\xE4\xB8\x8A\">\xF0\x9F\x98\x80</r>"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(load_memory(0, c.in, 24), 0) << c.in;
        EXPECT_EQ(xml_document_get(0)->replacements, 0) << c.in;
        std::string out = saved(0);
        EXPECT_EQ(out, c.out.rfind("\xEF", 0) == 0 ? c.out : utf8_head + c.out);
        // The same tree comes back, and a strict UTF-8 reader takes the file.
        ASSERT_NE(load_memory(1, out, 24), 0);
        EXPECT_EQ(summary(1), summary(0)) << c.in;
        ASSERT_NE(load_memory(1, out, 2), 0);
        EXPECT_EQ(xml_status(1), 0) << c.in;
    }
    // A line feed in the text of a CR LF document is no line end of it.
    ASSERT_NE(load_memory(0, "<r>a\nb</r>", 24), 0);
    xml_document_get(0)->line_end_style = 1;
    EXPECT_EQ(saved(0, XML_SAVE_NO_DECLARATION), "<r>a&#10;b</r>");
}

TEST_F(RoundTrip, Utf16LineEndsAreFoundOnWholeUnits) {
    // Characters with a byte 0x0A or 0x0D before the first line end.
    for (char16_t c : {u'\u4E0D', u'\u010D', u'\u4E0A', u'\u300A'}) {
        std::string body = utf16(u"<r>") + utf16({&c, 1}) + utf16(u"\r\n</r>");
        for (const std::string& file : {"\xFF\xFE" + body, body})
            EXPECT_NE(load_all_ways(file, 25).find("lines=1 "), std::string::npos) << int{c};
    }
}

TEST_F(RoundTrip, CharactersReplacedWhileLoadingAreCounted) {
    ASSERT_NE(load_memory(0, "<\xC4\x80 v='\xE2\x82\xAC \xC3\xA9'><!--\xF0\x9F\x98\x80-->&#x100;</\xC4\x80>", 2), 0);
    EXPECT_EQ(xml_document_get(0)->replacements, 4);
}

// The launcher saves no configuration that lost characters, and records
// no such folder as done, so that no later launch saves it either.
class RoundTripSync : public RoundTrip {
    void SetUp() override {
        slot_acquire(file_table(), state_file_slot);
        RoundTrip::SetUp();
    }
};

TEST_F(RoundTripSync, ConfigurationThatLostCharactersIsLeftAlone) {
    for (auto [character, changed] : {std::pair{u'\u4E0A', false}, {u'\u00E9', true}}) {
        const std::string config = "\xFF\xFE" + utf16(u"<NotepadPlus><FileBrowser><root foldername='x'/>") +
                                   utf16({&character, 1}) + utf16(u"</FileBrowser></NotepadPlus>");
        write_file(path("config.xml"), config);
        write_file(path("state.txt"), "");
        std::string folder = (folder_ / "").string();
        sync_workspace_folder(folder.c_str(), folder.c_str());
        EXPECT_EQ(read_file(path("config.xml")) != config, changed);
        EXPECT_EQ(read_file(path("state.txt")), changed ? folder : "");
    }
}

} // namespace
} // namespace quillgate::xmltest
