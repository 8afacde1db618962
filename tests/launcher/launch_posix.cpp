// POSIX-only launcher scenario: SIGHUP plays the console's close event.
#include <gtest/gtest.h>

#include <csignal>

#include <signal.h>

#include "tests/launcher/kit.h"

namespace quillgate::testing {

namespace {

bool editor_started(const Kit& kit) {
    for (int i = 0; i < 500; ++i) {
        if (kit.last_editor_run()["complete"] == "1") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace

void platform_launch_scenarios() {
    SCOPED_TRACE("a hang-up while the editor runs ends the launcher without its clean-up");
    Kit kit("hangup");
    kit.install_editor();
    fs::path release = kit.root() / "release";
    set_environment("QUILLGATE_EDITOR_WAIT_FILE", release.string().c_str());
    program_object* launcher = kit.start_launcher();
    set_environment("QUILLGATE_EDITOR_WAIT_FILE", nullptr);
    ASSERT_NE(launcher, nullptr);
    ASSERT_TRUE(editor_started(kit));
    program_object* php = kit.start_sleeper("php.exe");
    ASSERT_TRUE(php && process_appears("php.exe"));

    EXPECT_EQ(program_wait(launcher, 0), -1) << "blocked on the editor";
    kill(static_cast<pid_t>(launcher->process), SIGHUP);
    EXPECT_EQ(program_wait(launcher, 10000), SIGHUP) << "ended by the system's default action";
    EXPECT_EQ(program_wait(php, 1200), -1) << "no clean-up after a close event";
    std::ofstream(release) << "go";
    // The orphaned editor must be gone before the kit is, or it would wait
    // out its minute and make later launches see an editor running.
    for (int i = 0; i < 500 && is_process_running("notepad++.exe"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(is_process_running("notepad++.exe"));
}

} // namespace quillgate::testing
