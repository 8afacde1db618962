// The desktop operations: name and title rules, processes found and
// terminated by image name, the delay's timer request and the console's
// control handler.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "launcher/desktop.h"
#include "runtime/files/files.h"
#include "runtime/programs/programs.h"
#include "tests/support/heap_check.h"
#include "tests/support/paths.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;

class Desktop : public testing::HeapChecked {};

TEST_F(Desktop, ImageNamesCompareWholeFilePartsInAnyCase) {
    EXPECT_EQ(image_file_part("C:\\Program Files\\notepad++.exe"), "notepad++.exe");
    EXPECT_EQ(image_file_part("\"C:\\a b\\php.exe\" -x"), "php.exe");
    EXPECT_EQ(image_file_part("/opt/wine/ConEmu.exe"), "ConEmu.exe");
    EXPECT_EQ(image_file_part("php.exe"), "php.exe");
    EXPECT_EQ(image_file_part("C:\\mixed/sep\\x.exe"), "x.exe");

    EXPECT_TRUE(image_name_matches("C:\\x\\NOTEPAD++.EXE", "notepad++.exe"));
    EXPECT_TRUE(image_name_matches("notepad++.exe", "NotePad++.Exe"));
    EXPECT_FALSE(image_name_matches("notepad++.exe.bak", "notepad++.exe"));
    EXPECT_FALSE(image_name_matches("mynotepad++.exe", "notepad++.exe"));
    EXPECT_FALSE(image_name_matches("C:\\notepad++.exe\\other.exe", "notepad++.exe"));
}

TEST_F(Desktop, TitlesMatchByFragmentInAnyCase) {
    EXPECT_TRUE(title_contains("C:\\Windows\\system32\\CMD.exe", "cmd"));
    EXPECT_TRUE(title_contains("xcMdx", "cmd"));
    EXPECT_TRUE(title_contains("cmd", "CMD"));
    EXPECT_FALSE(title_contains("Command Prompt", "cmd"));
    EXPECT_FALSE(title_contains("", "cmd")) << "an untitled window never matches";
    EXPECT_FALSE(title_contains("cmd", ""));
    EXPECT_FALSE(title_contains(nullptr, "cmd"));
}

// Stand-in processes under names of this test run's own, so that nothing
// else on the machine is touched.
class Processes : public Desktop {
protected:
    void SetUp() override {
        Desktop::SetUp();
        stamp_ = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
        folder_ = fs::temp_directory_path() / ("quillgate-desktop-" + stamp_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        for (program_object* program : started_) {
            testing::kill_program(program);
            program_wait(program, 10000);
            program_close(program);
        }
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        Desktop::TearDown();
    }
    std::string name(const std::string& base) { return "qg" + stamp_ + base; }
    program_object* start(const std::string& image) {
        fs::path path = folder_ / image;
        if (!fs::exists(path)) fs::copy_file(testing::standin_path("sleeper"), path);
        auto* program = reinterpret_cast<program_object*>(program_run(path.string().c_str(), "", "", RUN_KEEP_OBJECT));
        EXPECT_NE(program, nullptr);
        if (program) started_.push_back(program);
        return program;
    }
    // Processes show up in a snapshot a moment after they start.
    bool appears(const std::string& image) {
        for (int i = 0; i < 500; ++i) {
            if (is_process_running(image.c_str())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string stamp_;
    fs::path folder_;
    std::vector<program_object*> started_;
};

TEST_F(Processes, RunningProcessesAreFoundByWholeNameInAnyCase) {
    std::string image = name("ed.exe");
    EXPECT_EQ(is_process_running(image.c_str()), 0);
    EXPECT_EQ(terminate_process_named(image.c_str()), 0);

    start(name("ed.exe.bak"));
    start("my" + name("ed.exe"));
    ASSERT_TRUE(appears(name("ed.exe.bak")));
    ASSERT_TRUE(appears("my" + name("ed.exe")));
    EXPECT_EQ(is_process_running(image.c_str()), 0) << "neither a longer nor a prefixed name matches";

    std::string upper = name("ED.EXE");
    start(upper);
    ASSERT_TRUE(appears(upper));
    EXPECT_EQ(is_process_running(image.c_str()), 1) << "case is ignored";
}

TEST_F(Processes, TerminationEndsExactlyOneMatchWithExitCode9) {
    std::string image = name("php.exe");
    program_object* first = start(image);
    program_object* second = start(image);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(appears(image));

    EXPECT_EQ(terminate_process_named(image.c_str()), 1);
    // One of the two ends with 9; the other goes on.
    int first_code = program_wait(first, 10000 / 2);
    int second_code = program_wait(second, first_code == 9 ? 300 : 10000 / 2);
    EXPECT_TRUE((first_code == 9) != (second_code == 9)) << first_code << " " << second_code;
    EXPECT_TRUE(first_code == -1 || second_code == -1) << "exactly one was terminated";

    EXPECT_EQ(terminate_process_named(image.c_str()), 1);
    EXPECT_EQ(program_wait(first, 10000), 9);
    EXPECT_EQ(program_wait(second, 10000), 9);
    for (int i = 0; i < 500 && is_process_running(image.c_str()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(terminate_process_named(image.c_str()), 0) << "nothing left to terminate";
}

TEST_F(Desktop, DelayAsksForTheTimerResolutionOnce) {
    delay_ms(1);
    EXPECT_EQ(delay_resolution_requests(), 1);
    auto start = std::chrono::steady_clock::now();
    delay_ms(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    EXPECT_EQ(delay_resolution_requests(), 1);
}

// The control handler runs the release step on the close event only. Each
// case runs in a child process, since the release step ends the runtime's
// files for good; the child reports what it saw in its exit code.
int handler_outcome(int event, const fs::path& path) {
    if (!file_open(3, path.string().c_str())) return 1;
    if (file_write_text(3, "held in the buffer", ENCODING_8BIT) <= 0) return 2;
    if (console_control_handler(event) != 0) return 3;
    std::ifstream in(path, std::ios::binary);
    std::string on_disk{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bool released = on_disk == "held in the buffer";
    file_close(3);
    return released ? 10 : 20;
}

TEST_F(Desktop, CloseEventRunsTheReleaseStepAndOthersDoNot) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fs::path path =
        fs::temp_directory_path() /
        ("quillgate-handler-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int event : {console_ctrl_c, console_ctrl_break, console_ctrl_logoff, console_ctrl_shutdown}) {
        EXPECT_EXIT(std::exit(handler_outcome(event, path)), ::testing::ExitedWithCode(20), "") << event;
    }
    EXPECT_EXIT(std::exit(handler_outcome(console_ctrl_close, path)), ::testing::ExitedWithCode(10), "");
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace
} // namespace quillgate
