// The workspace folder synchronisation on a kit laid out in a temporary
// folder: state file, configuration edit, and what is left alone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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
using testing::read_file;
using testing::write_file;

const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
const std::string utf8_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
const std::string one_root =
    "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"C:\\old\\work\" />\r\n"
    "    </FileBrowser>\r\n";

void replace_once(std::string& in, const std::string& from, const std::string& to) {
    std::size_t at = in.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    in.replace(at, from.size(), to);
}

// The editor's configuration in its usual shape: CR LF, four-space indent.
std::string configuration(const std::string& browser, const std::string& declaration = utf8_declaration) {
    return declaration +
           "\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n        <GUIConfig name=\"Caf\xC3\xA9\" visible='yes'>"
           "standard</GUIConfig>\r\n    </GUIConfigs>\r\n    <!-- panel -->\r\n" +
           browser + "</NotepadPlus>\r\n";
}

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
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(config(), fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(kit_, ignored);
        testing::HeapChecked::TearDown();
    }

    fs::path config() const { return kit_ / "notepad" / "config.xml"; }
    fs::path state() const { return kit_ / "notepad" / "state.txt"; }
    void sync(const std::string& launcher, const std::string& editor = "notepad") {
        sync_workspace_folder(launcher.c_str(), ((kit_ / editor).string() + separator).c_str());
        // The launcher keeps the document until shutdown; the test ends it.
        xml_free(config_document_slot);
    }
    bool root_is(const std::string& launcher) const {
        return read_file(config()).find("foldername=\"" + launcher + "work\"") != std::string::npos;
    }
    void make_read_only(bool read_only) {
        fs::permissions(config(),
                        read_only ? fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write
                                  : fs::perms::owner_write,
                        read_only ? fs::perm_options::remove : fs::perm_options::add);
    }

    fs::path kit_;
};

TEST_F(WorkspaceSync, FirstRunRecordsFolderAndPointsRootAtWork) {
    write_file(config(), configuration(one_root));
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(state()), "D:\\tools\\");
    // Only the root, the declaration's spacing and the quotes change.
    std::string expected = configuration(one_root, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    replace_once(expected, "C:\\old\\work\" />", "D:\\tools\\work\"/>");
    replace_once(expected, "visible='yes'", "visible=\"yes\"");
    EXPECT_EQ(read_file(config()), expected);
}

TEST_F(WorkspaceSync, OnlyAnotherFolderOnTheStateFilesFirstLineIsAChange) {
    write_file(config(), configuration(one_root));
    sync("D:\\tools\\");
    const std::string saved = read_file(config());
    const auto stamp = fs::last_write_time(config());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sync("D:\\tools\\");
    EXPECT_EQ(fs::last_write_time(config()), stamp) << "not rewritten";
    EXPECT_EQ(read_file(state()), "D:\\tools\\");

    write_file(state(), "D:\\tools\\\r\nsomething else\n");
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(config()), saved);
    EXPECT_EQ(read_file(state()), "D:\\tools\\\r\nsomething else\n");

    // A move, and then the same folder in other letters.
    for (const std::string folder : {"E:\\kit\\", "e:\\KIT\\"}) {
        sync(folder);
        EXPECT_TRUE(root_is(folder)) << folder;
        EXPECT_EQ(read_file(state()), folder);
    }
}

TEST_F(WorkspaceSync, OnlyTheFirstRootChangesAndAMissingAttributeIsAdded) {
    write_file(config(), configuration("    <FileBrowser>\r\n        <root a=\"1\"/>\r\n"
                                       "        <root foldername=\"x\"/>\r\n    </FileBrowser>\r\n"));
    sync("D:\\k\\");
    const std::string saved = read_file(config());
    EXPECT_NE(saved.find("<root a=\"1\" foldername=\"D:\\k\\work\"/>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<root foldername=\"x\"/>"), std::string::npos) << saved;
}

TEST_F(WorkspaceSync, ConfigurationsTheLauncherDoesNotEditAreLeftAloneAndRecorded) {
    const std::string other_main =
        "<?xml version=\"1.0\"?>\n<notepadplus><FileBrowser><root/></FileBrowser></notepadplus>\n";
    for (const std::string& content :
         {other_main, configuration(one_root + "<unclosed>"), configuration("    <FileBrowser/>\r\n"), std::string()}) {
        // The empty case stands for no configuration at all.
        fs::remove(config());
        if (!content.empty()) write_file(config(), content);
        fs::remove(state());
        sync("D:\\tools\\");
        EXPECT_EQ(fs::exists(config()), !content.empty());
        EXPECT_EQ(read_file(config()), content);
        EXPECT_EQ(read_file(state()), "D:\\tools\\");
    }
}

TEST_F(WorkspaceSync, UnwritableFilesRecordNothingAndAreRetriedLater) {
    const std::string content = configuration(one_root);
    write_file(config(), content);
    write_file(state(), "C:\\old\\");
    make_read_only(true);
    sync("D:\\tools\\");
    EXPECT_EQ(read_file(config()), content);
    EXPECT_EQ(read_file(state()), "C:\\old\\");

    make_read_only(false);
    sync("D:\\tools\\");
    EXPECT_TRUE(root_is("D:\\tools\\"));
    EXPECT_EQ(read_file(state()), "D:\\tools\\");

    // No state file can be opened in an editor folder that is not there.
    write_file(config(), content);
    sync("E:\\kit\\", "absent");
    EXPECT_EQ(read_file(config()), content);
    EXPECT_FALSE(fs::exists(kit_ / "absent"));
}

// The launcher folder is in the ANSI code page: é there is one byte where
// that is a single-byte code page, two where it is UTF-8.
std::string ansi_e_acute() {
    for (const std::string bytes : {"\xE9", "\xC3\xA9"}) {
        std::uint16_t wide[4] = {};
        if (os_ansi_to_wide(bytes.c_str(), -1, wide, 4) == 2 && wide[0] == 0xE9) return bytes;
    }
    return {};
}

TEST_F(WorkspaceSync, FolderIsWrittenInTheConfigurationsOwnEncoding) {
    const std::string e_acute = ansi_e_acute();
    ASSERT_FALSE(e_acute.empty()) << "no é in the ANSI code page";
    const std::string launcher = "D:\\caf" + e_acute + "\\";

    write_file(config(), configuration(one_root));
    sync(launcher);
    std::string saved = read_file(config());
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u) << saved;
    EXPECT_TRUE(root_is("D:\\caf\xC3\xA9\\")) << saved;
    EXPECT_NE(saved.find("name=\"Caf\xC3\xA9\""), std::string::npos) << "other non-ASCII bytes stay as they were";
    EXPECT_EQ(read_file(state()), launcher);

    fs::remove(state());
    write_file(config(), configuration(one_root, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"));
    sync(launcher);
    EXPECT_TRUE(root_is(launcher)) << read_file(config());
}

} // namespace
} // namespace quillgate
