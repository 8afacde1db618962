// The launch sequence: the folder computation on its own, then the real
// launcher binary run in temporary kits, one scenario after the other.
#include <gtest/gtest.h>

#include "launcher/launch.h"
#include "runtime/core/heap.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

class Launch : public HeapChecked {};

TEST_F(Launch, FoldersFollowTheCurrentDirectory) {
    const char* const rows[][3] = {{"C:\\", "C:\\", "C:\\notepad\\notepad++.exe"},
                                   {"D:\\kit", "D:\\kit\\", "D:\\kit\\notepad\\notepad++.exe"},
                                   {"/srv/kit", "/srv/kit/", "/srv/kit/notepad/notepad++.exe"},
                                   {"", "", ""}}; // no folder, no editor path that could turn relative
    for (const auto& row : rows) {
        launch_folders folders = compute_launch_folders(row[0], row[0][0] == '/' ? '/' : '\\');
        EXPECT_EQ(folders.launcher_folder, row[1]);
        EXPECT_EQ(folders.editor_path, row[2]);
    }
    for (long n = 0; n < 3; ++n) {
        heap_fail_after(n);
        launch_folders failed = compute_launch_folders("D:\\kit", '\\');
        heap_fail_after(-1);
        EXPECT_TRUE(failed.launcher_folder.empty() && failed.editor_path.empty()) << n;
    }
    EXPECT_TRUE(fs::equivalent(current_directory().c_str(), fs::current_path()));
}

TEST_F(Launch, LauncherScenarios) {
    {
        SCOPED_TRACE("the editor is started from the kit and waited for");
        Kit kit("editor");
        kit.install_editor();
        set_environment("QUILLGATE_EDITOR_SLEEP_MS", "400");
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1300)) << "the run, a second";
        set_environment("QUILLGATE_EDITOR_SLEEP_MS", nullptr);
        auto run = kit.last_editor_run();
        ASSERT_EQ(run["complete"], "1");
        EXPECT_EQ(run["argc"], "1");
        EXPECT_TRUE(fs::equivalent(run["arg0"], kit.file("notepad++.exe")));
        EXPECT_TRUE(fs::equivalent(run["cwd"], kit.root())) << "the launcher's own folder";
        EXPECT_EQ(read_file(kit.file("state.txt")), kit.folder());
    }
    {
        SCOPED_TRACE("without an editor the clean-up still comes a second after start");
        Kit kit("missing");
        fs::remove(kit.file(""));
        program_object* php[] = {kit.start_sleeper("php.exe"), kit.start_sleeper("php.exe")};
        program_object* conemu = kit.start_sleeper("ConEmu.exe");
        ASSERT_TRUE(php[0] && php[1] && conemu && process_appears("php.exe") && process_appears("ConEmu.exe"));
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ(program_wait(conemu, 10000), 9);
        int one = program_wait(php[0], 5000);
        int two = program_wait(php[1], one == 9 ? 300 : 5000);
        EXPECT_TRUE((one == 9) != (two == 9)) << "exactly one php.exe ends: " << one << " " << two;
        EXPECT_FALSE(fs::exists(kit.file("state.txt"))) << "no editor folder, nothing recorded";
    }
    {
        SCOPED_TRACE("an editor already running, in any letter case, stops the launch at once");
        Kit kit("running");
        kit.install_editor();
        program_object* running = kit.start_sleeper("NOTEPAD++.EXE");
        program_object* php = kit.start_sleeper("php.exe");
        ASSERT_TRUE(running && php && process_appears("notepad++.exe") && process_appears("php.exe"));
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_TRUE(kit.last_editor_run().empty()) << "nothing started";
        EXPECT_FALSE(fs::exists(kit.file("state.txt"))) << "nothing written";
        EXPECT_EQ(program_wait(php, 0), -1) << "nothing terminated";
        EXPECT_EQ(program_wait(running, 0), -1);
    }
    {
        SCOPED_TRACE("a kit named in Cyrillic and CJK moved: every stored path follows it");
        Kit kit("quillgate-\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80-\xE4\xBE\x8B\xE5\xAD\x90-");
        kit.install_editor();
        kit.lay_out(old_kit);
        write_file(kit.file("state.txt"), old_kit);
        program_object* launcher = kit.start_launcher(true);
        ASSERT_TRUE(launcher && kit.last_editor_run()["complete"] == "1") << "the editor started";
        for (const char* name : {"state.txt", "config.xml", "session.xml", "shortcuts.xml"}) {
            EXPECT_FALSE(program_holds_open(launcher, kit.file(name))) << name << " open while the editor runs";
        }
        kit.release_editor();
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        kit.expect_files(kit.folder());
        EXPECT_EQ(read_file(kit.file("state.txt")), kit.folder()) << "the folder in UTF-8";

        std::vector<fs::file_time_type> times;
        for (const char* name : {"state.txt", "config.xml", "session.xml", "shortcuts.xml"}) {
            times.push_back(fs::last_write_time(kit.file(name)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(kit.run_launcher(), 0);
        for (const char* name : {"state.txt", "config.xml", "session.xml", "shortcuts.xml"}) {
            EXPECT_EQ(fs::last_write_time(kit.file(name)), times.front()) << name << " rewritten on the next launch";
            times.erase(times.begin());
        }

        // A file that cannot be written keeps the move unrecorded until it
        // can; a missing or malformed one is left alone for good.
        kit.lay_out(old_kit);
        write_file(kit.file("state.txt"), old_kit);
        fs::remove(kit.file("shortcuts.xml"));
        const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        fs::permissions(kit.file("session.xml"), write, fs::perm_options::remove);
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ(read_file(kit.file("config.xml")), kit_file(0, kit.folder()));
        EXPECT_EQ(read_file(kit.file("session.xml")), kit_file(1, old_kit));
        EXPECT_EQ(read_file(kit.file("state.txt")), old_kit);
        fs::permissions(kit.file("session.xml"), fs::perms::owner_write, fs::perm_options::add);
        write_file(kit.file("shortcuts.xml"), "<NotepadPlus>" + old_kit);
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ(read_file(kit.file("session.xml")), kit_file(1, kit.folder()));
        EXPECT_EQ(read_file(kit.file("shortcuts.xml")), "<NotepadPlus>" + old_kit);
        EXPECT_EQ(read_file(kit.file("state.txt")), kit.folder());
    }
    platform_launch_scenarios();
}

} // namespace
} // namespace quillgate
