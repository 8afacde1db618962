// The real launcher binary keeping the file-browser root of a kit's editor
// configuration in step with the kit's folder, launch after launch.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/launcher/kit.h"
#include "tests/launcher/open_files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using testing::Kit;
using testing::read_file;
using testing::write_file;
namespace fs = std::filesystem;

// The editor's configuration as the editor writes it: UTF-8 declared, CR LF,
// four-space indent, non-ASCII bytes in other attributes.
const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
const std::string body_head = "\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n"
                              "        <GUIConfig name=\"Gr\xC3\xBC\xC3\x9F"
                              "e\" visible=\"yes\">standard</GUIConfig>\r\n"
                              "        <!-- \xE2\x82\xAC -->\r\n    </GUIConfigs>\r\n"
                              "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"";
const std::string body_tail = "\"/>\r\n    </FileBrowser>\r\n</NotepadPlus>\r\n";

std::string configuration(const std::string& head, const std::string& folder) {
    return head + body_head + folder + body_tail;
}

class WorkspaceLaunch : public testing::HeapChecked {
protected:
    static fs::path config(const Kit& kit) { return kit.root() / "notepad" / "config.xml"; }
    static void lay_out(Kit& kit, const std::string& content) {
        kit.install_editor();
        write_file(config(kit), content);
    }
    // Runs the launcher; it ends with 0 and its editor ran to the end.
    static void launch(Kit& kit) {
        fs::remove(kit.editor_log());
        auto outcome = kit.run_launcher();
        EXPECT_EQ(outcome.exit_code, 0);
        EXPECT_EQ(kit.last_editor_run()["complete"], "1") << "the editor was started and waited for";
    }
    // The launcher folder as the launcher recorded it, checked against the
    // kit's own folder.
    static std::string recorded_folder(const Kit& kit) {
        std::string state = read_file(kit.state_file());
        EXPECT_FALSE(state.empty());
        if (state.empty()) return state;
        EXPECT_EQ(state.back(), static_cast<char>(fs::path::preferred_separator));
        EXPECT_TRUE(fs::equivalent(state.substr(0, state.size() - 1), kit.root())) << state;
        return state;
    }
};

TEST_F(WorkspaceLaunch, RootFollowsTheKitFromLaunchToLaunch) {
    Kit kit("follow");
    lay_out(kit, configuration(declaration, "C:\\elsewhere\\work"));

    launch(kit);
    const std::string folder = recorded_folder(kit);
    const std::string rewritten = configuration("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", folder + "work");
    EXPECT_EQ(read_file(config(kit)), rewritten) << "only the declaration and the root changed";

    // Same folder again: nothing is rewritten.
    const auto stamp = fs::last_write_time(config(kit));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    launch(kit);
    EXPECT_EQ(read_file(config(kit)), rewritten);
    EXPECT_EQ(fs::last_write_time(config(kit)), stamp);
    EXPECT_EQ(read_file(kit.state_file()), folder);

    // A state file with the folder as its first line of several is the same.
    write_file(kit.state_file(), folder + "\r\nmore\r\n");
    launch(kit);
    EXPECT_EQ(fs::last_write_time(config(kit)), stamp);
    EXPECT_EQ(read_file(kit.state_file()), folder + "\r\nmore\r\n");

    // The same folder in other letters is a change; the state file then
    // holds the folder exactly.
    std::string other_case = folder;
    for (char& c : other_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(other_case, folder);
    write_file(kit.state_file(), other_case);
    launch(kit);
    EXPECT_EQ(read_file(kit.state_file()), folder);
    EXPECT_EQ(read_file(config(kit)), rewritten);

    // A copy of the kit elsewhere follows its own folder.
    Kit moved("moved");
    for (const auto& entry : fs::recursive_directory_iterator(kit.root())) {
        const fs::path target = moved.root() / fs::relative(entry.path(), kit.root());
        if (entry.is_directory()) fs::create_directories(target);
        else fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
    }
    launch(moved);
    const std::string moved_folder = recorded_folder(moved);
    EXPECT_NE(moved_folder, folder);
    EXPECT_EQ(read_file(config(moved)),
              configuration("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", moved_folder + "work"));
}

TEST_F(WorkspaceLaunch, ReadOnlyConfigurationIsUpdatedOnceItIsWritable) {
    Kit kit("readonly");
    const std::string original = configuration(declaration, "C:\\elsewhere\\work");
    lay_out(kit, original);
    fs::permissions(config(kit), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    launch(kit);
    EXPECT_EQ(read_file(config(kit)), original);
    EXPECT_EQ(read_file(kit.state_file()), "") << "nothing recorded while the update could not be made";

    fs::permissions(config(kit), fs::perms::owner_write, fs::perm_options::add);
    launch(kit);
    const std::string folder = recorded_folder(kit);
    EXPECT_EQ(read_file(config(kit)), configuration("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", folder + "work"));
}

TEST_F(WorkspaceLaunch, UneditableConfigurationsAreLeftAloneAndTheFolderRecorded) {
    const std::string malformed = configuration(declaration, "C:\\x") + "<junk";
    const std::string foreign = "<?xml version=\"1.0\"?>\n<Other><FileBrowser><root/></FileBrowser></Other>\n";
    for (const std::string& content : {malformed, foreign}) {
        Kit kit("alone");
        lay_out(kit, content);
        launch(kit);
        EXPECT_EQ(read_file(config(kit)), content);
        recorded_folder(kit);
    }
    Kit kit("missing");
    kit.install_editor();
    launch(kit);
    EXPECT_FALSE(fs::exists(config(kit)));
    recorded_folder(kit);
}

TEST_F(WorkspaceLaunch, NothingStaysOpenWhileTheEditorRuns) {
    Kit kit("open");
    lay_out(kit, configuration(declaration, "C:\\elsewhere\\work"));
    fs::path release = kit.root() / "release";
    testing::set_environment("QUILLGATE_EDITOR_WAIT_FILE", release.string().c_str());
    program_object* launcher = kit.start_launcher();
    testing::set_environment("QUILLGATE_EDITOR_WAIT_FILE", nullptr);
    ASSERT_NE(launcher, nullptr);
    for (int i = 0; i < 500 && kit.last_editor_run()["complete"] != "1"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(kit.last_editor_run()["complete"], "1");

    EXPECT_FALSE(testing::program_holds_open(launcher, kit.state_file()));
    EXPECT_FALSE(testing::program_holds_open(launcher, config(kit)));
    std::ofstream(release) << "go";
    EXPECT_EQ(program_wait(launcher, 30000), 0);
}

} // namespace
} // namespace quillgate
