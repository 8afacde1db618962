// The workspace folder synchronisation on a kit laid out in a temporary
// folder: state file, configuration edit, and what is left alone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "launcher/sync.h"
#include "runtime/files/files.h"
#include "runtime/platform/text_codepage.h"
#include "runtime/xml/xml.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;

const std::string separator(1, static_cast<char>(fs::path::preferred_separator));

using testing::read_file;
using testing::write_file;

void replace_once(std::string& in, const std::string& from, const std::string& to) {
    std::size_t at = in.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    in.replace(at, from.size(), to);
}

// The editor's configuration in its usual shape: CR LF, four-space indent.
std::string configuration(const std::string& declaration, const std::string& browser) {
    return declaration +
           "\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n        <GUIConfig name=\"Caf\xC3\xA9\" visible='yes'>"
           "standard</GUIConfig>\r\n    </GUIConfigs>\r\n    <!-- panel -->\r\n" +
           browser + "</NotepadPlus>\r\n";
}

const std::string utf8_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
const std::string one_root =
    "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"C:\\old\\work\" />\r\n"
    "    </FileBrowser>\r\n";

class WorkspaceSync : public testing::HeapChecked {
protected:
    void SetUp() override {
        // Numbered slots keep their blocks for reuse; make them exist before
        // the heap's count is taken.
        slot_acquire(file_table(), state_file_slot);
        slot_acquire(xml_table(), config_document_slot);
        testing::HeapChecked::SetUp();
        static int counter = 0;
        kit_ = fs::temp_directory_path() /
               ("quillgate-sync-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(++counter));
        fs::create_directories(kit_ / "notepad");
        editor_ = (kit_ / "notepad").string() + separator;
    }
    void TearDown() override {
        // The launcher keeps the document until shutdown; the test ends it.
        xml_free(config_document_slot);
        std::error_code ignored;
        fs::permissions(config(), fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(kit_, ignored);
        testing::HeapChecked::TearDown();
    }

    fs::path config() const { return kit_ / "notepad" / "config.xml"; }
    fs::path state() const { return kit_ / "notepad" / "state.txt"; }
    void sync(const std::string& launcher) {
        sync_workspace_folder(launcher.c_str(), editor_.c_str());
        xml_free(config_document_slot);
    }

    fs::path kit_;
    std::string editor_;
};

TEST_F(WorkspaceSync, FirstRunRecordsFolderAndPointsRootAtWork) {
    write_file(config(), configuration(utf8_declaration, one_root));
    const std::string launcher = "D:\\tools\\";
    sync(launcher);

    EXPECT_EQ(read_file(state()), launcher);
    std::string expected = configuration("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", one_root);
    replace_once(expected, "C:\\old\\work\" />", "D:\\tools\\work\"/>");
    replace_once(expected, "visible='yes'", "visible=\"yes\"");
    EXPECT_EQ(read_file(config()), expected);
}

TEST_F(WorkspaceSync, SameFolderLeavesConfigurationUntouched) {
    write_file(config(), configuration(utf8_declaration, one_root));
    sync("D:\\tools\\");
    const std::string saved = read_file(config());
    const auto stamp = fs::last_write_time(config());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(config()), saved);
    EXPECT_EQ(fs::last_write_time(config()), stamp);
    EXPECT_EQ(read_file(state()), "D:\\tools\\");

    // Only the first line of the state file counts.
    write_file(state(), "D:\\tools\\\r\nsomething else\n");
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(config()), saved);
    EXPECT_EQ(read_file(state()), "D:\\tools\\\r\nsomething else\n");
}

TEST_F(WorkspaceSync, MovedOrDifferentlyCasedFolderIsAChange) {
    write_file(config(), configuration(utf8_declaration, one_root));
    sync("D:\\tools\\");
    sync("E:\\kit\\");
    EXPECT_NE(read_file(config()).find("foldername=\"E:\\kit\\work\""), std::string::npos);
    EXPECT_EQ(read_file(state()), "E:\\kit\\");
    sync("e:\\KIT\\");
    EXPECT_NE(read_file(config()).find("foldername=\"e:\\KIT\\work\""), std::string::npos);
    EXPECT_EQ(read_file(state()), "e:\\KIT\\");
}

TEST_F(WorkspaceSync, OnlyTheFirstRootChangesAndAMissingAttributeIsAdded) {
    write_file(config(), configuration(utf8_declaration, "    <FileBrowser>\r\n        <root a=\"1\"/>\r\n"
                                                         "        <root foldername=\"x\"/>\r\n    </FileBrowser>\r\n"));
    sync("D:\\k\\");
    const std::string saved = read_file(config());
    EXPECT_NE(saved.find("<root a=\"1\" foldername=\"D:\\k\\work\"/>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<root foldername=\"x\"/>"), std::string::npos) << saved;
}

TEST_F(WorkspaceSync, ConfigurationsTheLauncherDoesNotEditAreLeftAloneAndRecorded) {
    const std::string other_main =
        "<?xml version=\"1.0\"?>\n<notepadplus><FileBrowser><root/></FileBrowser></notepadplus>\n";
    const std::string malformed = configuration(utf8_declaration, one_root + "<unclosed>");
    const std::string rootless = configuration(utf8_declaration, "    <FileBrowser/>\r\n");
    for (const std::string& content : {other_main, malformed, rootless}) {
        write_file(config(), content);
        fs::remove(state());
        sync("D:\\tools\\");
        EXPECT_EQ(read_file(config()), content);
        EXPECT_EQ(read_file(state()), "D:\\tools\\");
    }
    fs::remove(config());
    fs::remove(state());
    sync("D:\\tools\\");
    EXPECT_FALSE(fs::exists(config()));
    EXPECT_EQ(read_file(state()), "D:\\tools\\");
}

TEST_F(WorkspaceSync, ReadOnlyConfigurationIsNotRecordedAndIsRetriedLater) {
    const std::string content = configuration(utf8_declaration, one_root);
    write_file(config(), content);
    write_file(state(), "C:\\old\\");
    fs::permissions(config(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(config()), content);
    EXPECT_EQ(read_file(state()), "C:\\old\\");

    fs::permissions(config(), fs::perms::owner_write, fs::perm_options::add);
    sync("D:\\tools\\");
    EXPECT_NE(read_file(config()).find("foldername=\"D:\\tools\\work\""), std::string::npos);
    EXPECT_EQ(read_file(state()), "D:\\tools\\");
}

// The launcher folder is in the ANSI code page; the reference conversion to
// UTF-8 goes through the platform's own UTF-16 conversion.
std::string ansi_as_utf8(const std::string& ansi) {
    std::u16string wide(ansi.size() + 1, u'\0');
    int units =
        os_ansi_to_wide(ansi.c_str(), -1, reinterpret_cast<std::uint16_t*>(wide.data()), static_cast<int>(wide.size()));
    std::string out;
    for (int i = 0; i + 1 < units; ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 2 < units) c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

TEST_F(WorkspaceSync, FolderIsWrittenInTheConfigurationsOwnEncoding) {
    // A folder with a non-ASCII character: é in the ANSI code page (one byte
    // where that is a single-byte code page, two where it is UTF-8).
    std::string e_acute = ansi_as_utf8("\xE9") == "\xC3\xA9" ? "\xE9" : "\xC3\xA9";
    const std::string launcher = "D:\\caf" + e_acute + "\\";

    write_file(config(), configuration(utf8_declaration, one_root));
    sync(launcher);
    std::string saved = read_file(config());
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("foldername=\"" + ansi_as_utf8(launcher) + "work\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("name=\"Caf\xC3\xA9\""), std::string::npos) << "other non-ASCII bytes stay as they were";
    EXPECT_EQ(read_file(state()), launcher);

    fs::remove(state());
    write_file(config(), configuration("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", one_root));
    sync(launcher);
    saved = read_file(config());
    EXPECT_NE(saved.find("foldername=\"" + launcher + "work\""), std::string::npos) << saved;
}

TEST_F(WorkspaceSync, UnopenableStateFileSkipsEverything) {
    const std::string content = configuration(utf8_declaration, one_root);
    write_file(config(), content);
    const std::string missing_editor = (kit_ / "absent").string() + separator;
    sync_workspace_folder("D:\\tools\\", missing_editor.c_str());
    EXPECT_EQ(read_file(config()), content);
    EXPECT_FALSE(fs::exists(kit_ / "absent"));
}

} // namespace
} // namespace quillgate
