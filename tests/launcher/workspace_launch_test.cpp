// The real launcher binary keeping the file-browser root of a kit's editor
// configuration in step with the kit's folder, launch after launch.
#include <gtest/gtest.h>

#include <cctype>

#include "tests/launcher/kit.h"
#include "tests/launcher/open_files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using testing::Kit;
using testing::read_file;
using testing::write_file;
namespace fs = std::filesystem;

// As the editor writes it: UTF-8 declared, CR LF, four-space indent,
// non-ASCII bytes in other attributes. The launcher drops the space before
// "?>" when it saves.
std::string configuration(const std::string& root, bool as_saved = false) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"") + (as_saved ? "?>" : " ?>") +
           "\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n"
           "        <GUIConfig name=\"Gr\xC3\xBC\xC3\x9F"
           "e\" visible=\"yes\">standard</GUIConfig>\r\n"
           "        <!-- \xE2\x82\xAC -->\r\n    </GUIConfigs>\r\n"
           "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"" +
           root + "\"/>\r\n    </FileBrowser>\r\n</NotepadPlus>\r\n";
}

class WorkspaceLaunch : public testing::HeapChecked {
protected:
    static void lay_out(Kit& kit, const std::string& content) {
        kit.install_editor();
        write_file(kit.config(), content);
    }
    // The launcher ends with 0 after its editor ran to the end.
    static void launch(Kit& kit) {
        fs::remove(kit.editor_log());
        EXPECT_EQ(kit.run_launcher().exit_code, 0);
        EXPECT_EQ(kit.last_editor_run()["complete"], "1") << "the editor was started and waited for";
    }
};

TEST_F(WorkspaceLaunch, RootFollowsTheKitFromLaunchToLaunch) {
    Kit kit("follow");
    lay_out(kit, configuration("C:\\elsewhere\\work"));
    launch(kit);
    const std::string folder = kit.recorded_folder();
    const std::string rewritten = configuration(folder + "work", true);
    EXPECT_EQ(read_file(kit.config()), rewritten) << "only the declaration and the root changed";

    // Same folder again: nothing is rewritten.
    const auto stamp = fs::last_write_time(kit.config());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    launch(kit);
    EXPECT_EQ(fs::last_write_time(kit.config()), stamp);
    EXPECT_EQ(read_file(kit.state_file()), folder);

    // The same folder in other letters is a change; the state file then
    // holds the folder exactly.
    std::string other_case = folder;
    for (char& c : other_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(other_case, folder);
    write_file(kit.state_file(), other_case);
    launch(kit);
    EXPECT_EQ(read_file(kit.state_file()), folder);
    EXPECT_EQ(read_file(kit.config()), rewritten);

    // A copy of the kit elsewhere follows its own folder.
    Kit moved("moved");
    fs::remove_all(moved.root());
    fs::copy(kit.root(), moved.root(), fs::copy_options::recursive);
    launch(moved);
    const std::string moved_folder = moved.recorded_folder();
    EXPECT_NE(moved_folder, folder);
    EXPECT_EQ(read_file(moved.config()), configuration(moved_folder + "work", true));
}

// The launch with config.xml read-only records nothing and is made again
// once it is writable.
TEST_F(WorkspaceLaunch, ReadOnlyConfigurationIsUpdatedOnceItIsWritable) {
    Kit kit("readonly");
    const std::string original = configuration("C:\\elsewhere\\work");
    lay_out(kit, original);
    fs::permissions(kit.config(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    launch(kit);
    EXPECT_EQ(read_file(kit.config()), original);
    EXPECT_EQ(read_file(kit.state_file()), "") << "nothing recorded while the update could not be made";

    fs::permissions(kit.config(), fs::perms::owner_write, fs::perm_options::add);
    launch(kit);
    EXPECT_EQ(read_file(kit.config()), configuration(kit.recorded_folder() + "work", true));
}

TEST_F(WorkspaceLaunch, NothingStaysOpenWhileTheEditorRuns) {
    Kit kit("open");
    lay_out(kit, configuration("C:\\elsewhere\\work"));
    program_object* launcher = kit.start_launcher_holding_editor();
    ASSERT_NE(launcher, nullptr);
    EXPECT_FALSE(testing::program_holds_open(launcher, kit.state_file()));
    EXPECT_FALSE(testing::program_holds_open(launcher, kit.config()));
    kit.release_editor();
    EXPECT_EQ(program_wait(launcher, 30000), 0);
}

} // namespace
} // namespace quillgate
