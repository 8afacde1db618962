// Editor files in the forms editors of many versions and languages wrote
// them, in kits that moved: the real launcher run in each kit, twice. Every
// stored path follows, every other character means what it meant (the file
// decoded by its declared encoding, references resolved), and the second
// launch changes nothing.
#include <gtest/gtest.h>

#include <regex>

#include "runtime/platform/charset.h"
#include "runtime/platform/utf8.h"
#include "tests/launcher/kit.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

std::string utf8_of(std::uint32_t c) {
    char bytes[4];
    return std::string(bytes, static_cast<std::size_t>(utf8_encode(c, bytes)));
}

// Bytes of an 8-bit set, or UTF-8, as UTF-8.
std::string decoded(const std::string& bytes, const std::string& charset) {
    if (charset.empty() || charset == "UTF-8") return bytes;
    std::uint16_t table[charset_high_bytes];
    EXPECT_TRUE(os_charset_high_bytes(charset.c_str(), table)) << charset;
    std::string out;
    for (unsigned char b : bytes) out += b < 0x80 ? std::string(1, static_cast<char>(b)) : utf8_of(table[b - 0x80]);
    return out;
}

// What a file says: decoded by its declaration, its declaration and the
// line end after it left out, every character reference resolved.
std::string meaning(const std::string& file) {
    std::smatch head, name;
    std::string charset;
    std::string body = file;
    if (std::regex_search(file, head, std::regex("^<\\?xml[^>]*\\?>(\r\n|\n)?"))) {
        const std::string declaration = head[0];
        if (std::regex_search(declaration, name, std::regex("encoding=\"([^\"]*)\""))) charset = name[1];
        body = file.substr(static_cast<std::size_t>(head.length(0)));
    }
    std::string text = decoded(body, charset);
    std::string out;
    std::smatch reference;
    const std::regex pattern("&#(x?)([0-9A-Fa-f]+);");
    while (std::regex_search(text, reference, pattern)) {
        out += reference.prefix();
        out += utf8_of(static_cast<std::uint32_t>(std::stoul(reference[2], nullptr, reference[1] == "x" ? 16 : 10)));
        text = reference.suffix();
    }
    return out + text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

struct form {
    const char* file;
    const char* content; // {K}: the old kit folder, {R}: it in references, {W}: see below
};

const char* const cyrillic_history =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NotepadPlus>\r\n"
    "<FindHistory><Find name=\"&#x0422;&#x0435;&#x043A;&#x0441;&#x0442;\"/></FindHistory>\r\n"
    "<History><File filename=\"{K}&#x0414;&#x043E;&#x043A;\\a.txt\"/><File filename=\"x\xFF\xFE\xC3\"/></History>\r\n"
    "<FileBrowser><root foldername=\"{K}work\"/></FileBrowser>\r\n</NotepadPlus>\r\n";

// Kit folders in ASCII: references to Cyrillic and CJK, bytes that are no
// UTF-8, the euro sign as byte 0x80, raw Cyrillic bytes, an entity that is
// not read.
const form ascii_kit[] = {
    {"config.xml", cyrillic_history},
    {"session.xml", "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n<NotepadPlus><Session><mainView>"
                    "<File filename=\"{K}\x80 &#x516C;&#x53F8;\\b.txt\" backupFilePath=\"{K}notepad\\backup\\b@1\"/>"
                    "</mainView></Session></NotepadPlus>\r\n"},
    {"shortcuts.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                      "<!DOCTYPE NotepadPlus [<!ENTITY ext SYSTEM \"ext.xml\">]>\r\n<NotepadPlus><UserDefinedCommands>"
                      "<Command name=\"\xCF\xF0\xE8\">{K}\xE4\xEE\xEA\\run.exe &ext;</Command>"
                      "</UserDefinedCommands></NotepadPlus>\r\n"},
};

// Kit folders named in CJK and Cyrillic, spelled in references, in UTF-8,
// and ({W}) in windows-1251 bytes where that has them.
const form cjk_kit[] = {
    {"config.xml", "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n<NotepadPlus><FindHistory>"
                   "<Find name=\"&#x4E2D;&#x6587;\"/></FindHistory><History><File filename=\"{R}a.txt\"/></History>"
                   "<FileBrowser><root foldername=\"{R}work\"/></FileBrowser></NotepadPlus>\r\n"},
    {"session.xml", "<NotepadPlus><Session><mainView><File filename=\"{R}work\\c.txt\"/></mainView></Session>"
                    "</NotepadPlus>\r\n"},
    {"shortcuts.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<NotepadPlus><UserDefinedCommands>"
                      "<Command name=\"Run\">{W}tools\\run.exe</Command></UserDefinedCommands></NotepadPlus>\n"},
};

void expect_moves(Kit& kit, const std::string& old_folder, const std::string& in_1251, const form (&forms)[3]) {
    std::string before[3];
    for (int k = 0; k < 3; ++k) {
        std::string content = replaced(replaced(forms[k].content, "{K}", old_folder), "{W}", in_1251);
        before[k] = replaced(content, "{R}", referenced(old_folder));
        write_file(kit.file(forms[k].file), before[k]);
    }
    write_file(kit.file("state.txt"), old_folder);
    ASSERT_EQ(kit.run_launcher(), 0);
    EXPECT_EQ(read_file(kit.file("state.txt")), kit.folder());
    std::string after[3];
    for (int k = 0; k < 3; ++k) {
        after[k] = read_file(kit.file(forms[k].file));
        EXPECT_EQ(meaning(after[k]), replaced(meaning(before[k]), old_folder, kit.folder())) << forms[k].file;
    }
    ASSERT_EQ(kit.run_launcher(), 0);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(read_file(kit.file(forms[k].file)), after[k]) << "again: " << forms[k].file;
}

TEST(LauncherForms, EveryFormMovesAndKeepsItsMeaning) {
    {
        SCOPED_TRACE("an ASCII kit");
        Kit kit("quillgate-forms-");
        expect_moves(kit, old_kit, "", ascii_kit);
    }
    {
        SCOPED_TRACE("a kit named in CJK, from a folder named in CJK and Cyrillic");
        Kit kit("quillgate-\xE4\xBE\x8B\xE5\xAD\x90-");
        const std::string drive = old_kit.substr(0, old_kit.size() - 4), separator = old_kit.substr(old_kit.size() - 1);
        const std::string old_folder =
            drive + "\xE5\x85\xAC\xE5\x8F\xB8\xD0\x94\xD0\xBE\xD0\xBA" + separator + "kit" + separator;
        const std::string in_1251 = drive + "&#x516C;&#x53F8;\xC4\xEE\xEA" + separator + "kit" + separator;
        expect_moves(kit, old_folder, in_1251, cjk_kit);
    }
}

} // namespace
} // namespace quillgate
