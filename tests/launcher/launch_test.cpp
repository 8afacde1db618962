// The launch sequence: the folder computation on its own, then the real
// launcher binary run in temporary kits.
#include <gtest/gtest.h>

#include "launcher/launch.h"
#include "runtime/core/heap.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using testing::Kit;
using testing::process_appears;
namespace fs = std::filesystem;

class Launch : public testing::HeapChecked {};

TEST_F(Launch, FoldersFollowTheCurrentDirectory) {
    launch_folders root = compute_launch_folders("C:\\", '\\');
    EXPECT_EQ(root.launcher_folder, "C:\\") << "no second separator at a drive root";
    EXPECT_EQ(root.editor_folder, "C:\\notepad\\");
    EXPECT_EQ(root.editor_path, "C:\\notepad\\notepad++.exe");
    launch_folders kit = compute_launch_folders("D:\\kit", '\\');
    EXPECT_EQ(kit.launcher_folder, "D:\\kit\\");
    EXPECT_EQ(kit.editor_path, "D:\\kit\\notepad\\notepad++.exe");
    EXPECT_EQ(compute_launch_folders("/srv/kit", '/').editor_path, "/srv/kit/notepad/notepad++.exe");
    // Without a folder there is no editor path that could turn relative.
    EXPECT_TRUE(compute_launch_folders("", '\\').editor_path.empty());
    for (long n = 0; n < 3; ++n) {
        heap_fail_after(n);
        launch_folders failed = compute_launch_folders("D:\\kit", '\\');
        heap_fail_after(-1);
        EXPECT_TRUE(failed.launcher_folder.empty() && failed.editor_path.empty()) << n;
    }
    EXPECT_TRUE(fs::equivalent(current_directory().c_str(), fs::current_path()));
}

TEST_F(Launch, LauncherScenarios) {
    testing::set_environment("QUILLGATE_EDITOR_LOG", nullptr);
    {
        SCOPED_TRACE("the editor is started from the kit and waited for");
        Kit kit("editor");
        kit.install_editor();
        testing::set_environment("QUILLGATE_EDITOR_SLEEP_MS", "400");
        auto outcome = kit.run_launcher();
        testing::set_environment("QUILLGATE_EDITOR_SLEEP_MS", nullptr);
        EXPECT_EQ(outcome.exit_code, 0);
        EXPECT_GE(outcome.took, std::chrono::milliseconds(1300)) << "the editor's run, then a second's pause";
        auto run = kit.last_editor_run();
        ASSERT_EQ(run["complete"], "1");
        EXPECT_EQ(run["argc"], "1");
        EXPECT_TRUE(fs::equivalent(run["arg0"], kit.editor()));
        EXPECT_TRUE(fs::equivalent(run["cwd"], kit.root())) << "the launcher's own folder";
        kit.recorded_folder();
    }
    {
        SCOPED_TRACE("without an editor the clean-up still comes a second after start");
        Kit kit("missing");
        program_object* php_one = kit.start_sleeper("php.exe");
        program_object* php_two = kit.start_sleeper("php.exe");
        program_object* conemu = kit.start_sleeper("ConEmu.exe");
        ASSERT_TRUE(php_one && php_two && conemu);
        ASSERT_TRUE(process_appears("php.exe") && process_appears("ConEmu.exe"));
        auto outcome = kit.run_launcher();
        EXPECT_EQ(outcome.exit_code, 0);
        EXPECT_GE(outcome.took, std::chrono::milliseconds(900));
        EXPECT_LE(outcome.took, std::chrono::milliseconds(10000));
        EXPECT_EQ(program_wait(conemu, 10000), 9);
        int one = program_wait(php_one, 5000);
        int two = program_wait(php_two, one == 9 ? 300 : 5000);
        EXPECT_TRUE((one == 9) != (two == 9)) << "exactly one php.exe ends: " << one << " " << two;
        EXPECT_FALSE(fs::exists(kit.state_file())) << "no editor folder, nothing recorded";
    }
    {
        SCOPED_TRACE("an editor already running, in any letter case, stops the launch at once");
        Kit kit("running");
        kit.install_editor();
        program_object* running = kit.start_sleeper("NOTEPAD++.EXE");
        program_object* php = kit.start_sleeper("php.exe");
        ASSERT_TRUE(running && php);
        ASSERT_TRUE(process_appears("notepad++.exe") && process_appears("php.exe"));
        EXPECT_EQ(kit.run_launcher().exit_code, 0);
        EXPECT_FALSE(fs::exists(kit.editor_log())) << "nothing started";
        EXPECT_FALSE(fs::exists(kit.state_file())) << "nothing written";
        EXPECT_EQ(program_wait(php, 0), -1) << "nothing terminated";
        EXPECT_EQ(program_wait(running, 0), -1);
    }
    testing::platform_launch_scenarios();
}

} // namespace
} // namespace quillgate
