// POSIX-only launcher scenario: SIGHUP plays the console's close event.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/launcher/kit.h"

namespace quillgate::testing {

// The program's descriptors are links under /proc/<pid>/fd.
bool program_holds_open(const program_object* program, const fs::path& file) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(program->process) + "/fd", error))
        if (fs::read_symlink(entry.path(), error) == fs::weakly_canonical(file)) return true;
    return false;
}

void platform_launch_scenarios() {
    SCOPED_TRACE("a hang-up while the editor runs ends the launcher without its clean-up");
    Kit kit("hangup");
    kit.install_editor();
    program_object* launcher = kit.start_launcher(true);
    program_object* php = kit.start_sleeper("php.exe");
    ASSERT_TRUE(launcher && php && process_appears("php.exe"));
    kill(static_cast<pid_t>(launcher->process), SIGHUP);
    EXPECT_EQ(program_wait(launcher, 10000), SIGHUP) << "ended by the system's default action";
    EXPECT_EQ(program_wait(php, 1200), -1) << "no clean-up after a close event";
    // The orphaned editor must be gone before the kit is, or it would wait
    // out its minute and make later launches see an editor running.
    kit.release_editor();
    EXPECT_TRUE(wait_until([] { return !is_process_running("notepad++.exe"); }));
}

} // namespace quillgate::testing
