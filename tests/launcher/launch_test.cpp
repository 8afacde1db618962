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
                                   {"/srv/kit", "/srv/kit/", "/srv/kit/notepad/notepad++.exe"},
                                   {"", "", ""}}; // no folder, no editor path that could turn relative
    for (const auto& row : rows) {
        launch_folders folders = compute_launch_folders(row[0], row[0][0] == '/' ? '/' : '\\');
        EXPECT_TRUE(folders.launcher_folder == row[1] && folders.editor_path == row[2]) << row[0];
    }
    for (long n = 0; n < 3; ++n) {
        heap_fail_after(n);
        EXPECT_TRUE(compute_launch_folders("D:\\kit", '\\').editor_path.empty()) << n;
        heap_fail_after(-1);
    }
    EXPECT_TRUE(fs::equivalent(current_directory().c_str(), fs::current_path()));
}

TEST_F(Launch, LauncherScenarios) {
    {
        SCOPED_TRACE("a kit named in Cyrillic and CJK moved: the editor starts, every stored path follows");
        Kit kit("quillgate-\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80-\xE4\xBE\x8B\xE5\xAD\x90-");
        const char* const files[] = {"config.xml", "session.xml", "shortcuts.xml", "state.txt"};
        auto expect_files = [&](const std::vector<std::string>& want) {
            for (int k = 0; k < 4; ++k) EXPECT_EQ(read_file(kit.file(files[k])), want[k]) << files[k];
        };
        kit.install_editor();
        kit.lay_out(old_kit);
        write_file(kit.file("state.txt"), old_kit);
        program_object* launcher = kit.start_launcher(true);
        ASSERT_TRUE(launcher && kit.last_editor_run()["argc"] == "1") << "the editor started, given no argument";
        for (const char* name : files) EXPECT_FALSE(program_holds_open(launcher, kit.file(name))) << name;
        EXPECT_EQ(program_wait(launcher, 200), -1) << "waiting for the editor";
        kit.release_editor();
        auto released = std::chrono::steady_clock::now();
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        EXPECT_GE(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(900)) << "a second's pause";
        const std::string folder = kit.folder(); // UTF-8
        expect_files({kit_file(0, folder), kit_file(1, folder), kit_file(2, folder), folder});

        // The same folder (on the state file's first line): nothing is rewritten.
        write_file(kit.file("state.txt"), folder + "\r\nmore");
        std::vector<fs::file_time_type> times;
        for (const char* name : files) times.push_back(fs::last_write_time(kit.file(name)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(kit.run_launcher(), 0);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(fs::last_write_time(kit.file(files[k])), times[k]) << files[k];

        // A file that cannot be written keeps the move unrecorded until it
        // can; a missing or malformed one, or one whose encoding cannot hold
        // the folder, is left alone for good.
        kit.lay_out(old_kit);
        write_file(kit.file("state.txt"), old_kit);
        fs::remove(kit.file("shortcuts.xml"));
        const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        fs::permissions(kit.file("session.xml"), write, fs::perm_options::remove);
        EXPECT_EQ(kit.run_launcher(), 0);
        expect_files({kit_file(0, folder), kit_file(1, old_kit), "", old_kit});
        fs::permissions(kit.file("session.xml"), fs::perms::owner_write, fs::perm_options::add);
        std::string latin1 = kit_file(2, old_kit);
        write_file(kit.file("shortcuts.xml"), latin1.replace(latin1.find("UTF-8"), 5, "ISO-8859-1"));
        write_file(kit.file("config.xml"), "<NotepadPlus>" + old_kit);
        EXPECT_EQ(kit.run_launcher(), 0);
        expect_files({"<NotepadPlus>" + old_kit, kit_file(1, folder), latin1, folder});
    }
    {
        SCOPED_TRACE("without an editor the clean-up still comes: one php.exe and one ConEmu.exe end");
        Kit kit("missing");
        fs::remove(kit.file(""));
        program_object* php[] = {kit.start_sleeper("php.exe"), kit.start_sleeper("php.exe")};
        program_object* conemu = kit.start_sleeper("ConEmu.exe");
        ASSERT_TRUE(php[0] && php[1] && conemu && process_appears("php.exe") && process_appears("ConEmu.exe"));
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ(program_wait(conemu, 10000), 9);
        int one = program_wait(php[0], 5000);
        EXPECT_TRUE((one == 9) != (program_wait(php[1], one == 9 ? 300 : 5000) == 9)) << "exactly one php.exe";
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
        EXPECT_TRUE(kit.last_editor_run().empty() && !fs::exists(kit.file("state.txt"))) << "nothing started, written";
        EXPECT_TRUE(program_wait(php, 0) == -1 && program_wait(running, 0) == -1) << "nothing terminated";
    }
    platform_launch_scenarios();
}

} // namespace
} // namespace quillgate
