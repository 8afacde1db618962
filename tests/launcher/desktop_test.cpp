// The desktop operations: name and title rules, processes found and
// terminated by image name, the delay's timer request and the console's
// control handler.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "runtime/files/files.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;
using testing::process_appears;

class Desktop : public testing::HeapChecked {};

TEST_F(Desktop, ImageNamesCompareWholeFilePartsInAnyCase) {
    EXPECT_EQ(image_file_part("C:\\Program Files\\notepad++.exe"), "notepad++.exe");
    EXPECT_EQ(image_file_part("\"C:\\a b\\php.exe\" -x"), "php.exe");
    EXPECT_EQ(image_file_part("C:\\mixed/sep\\x.exe"), "x.exe");
    EXPECT_EQ(image_file_part("php.exe"), "php.exe");

    EXPECT_TRUE(image_name_matches("C:\\x\\NOTEPAD++.EXE", "notepad++.exe"));
    EXPECT_TRUE(image_name_matches("notepad++.exe", "NotePad++.Exe"));
    EXPECT_FALSE(image_name_matches("notepad++.exe.bak", "notepad++.exe"));
    EXPECT_FALSE(image_name_matches("mynotepad++.exe", "notepad++.exe"));
    EXPECT_FALSE(image_name_matches("C:\\notepad++.exe\\other.exe", "notepad++.exe"));
}

TEST_F(Desktop, TitlesMatchByFragmentInAnyCase) {
    EXPECT_TRUE(title_contains("C:\\Windows\\system32\\CMD.exe", "cmd"));
    EXPECT_TRUE(title_contains("xcMdx", "cmd"));
    EXPECT_FALSE(title_contains("Command Prompt", "cmd"));
    EXPECT_FALSE(title_contains("", "cmd")) << "an untitled window never matches";
    EXPECT_FALSE(title_contains("cmd", ""));
    EXPECT_FALSE(title_contains(nullptr, "cmd"));
}

// Stand-ins under names of this run's own, so nothing else on the machine
// is touched.
std::string own_name(const std::string& base) {
    return "qg" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) + base;
}

TEST_F(Desktop, ProcessesAreFoundByWholeNameInAnyCaseAndTerminatedOneByOne) {
    testing::Kit kit("desktop");
    const std::string image = own_name("php.exe");
    EXPECT_EQ(is_process_running(image.c_str()), 0);
    EXPECT_EQ(terminate_process_named(image.c_str()), 0);
    for (const std::string& other : {image + ".bak", "my" + image}) {
        ASSERT_TRUE(kit.start_sleeper(other) && process_appears(other));
    }
    EXPECT_EQ(is_process_running(image.c_str()), 0) << "neither a longer nor a prefixed name matches";

    std::string upper = image;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    program_object* first = kit.start_sleeper(upper);
    program_object* second = kit.start_sleeper(upper);
    ASSERT_TRUE(first && second && process_appears(upper));
    EXPECT_EQ(is_process_running(image.c_str()), 1) << "case is ignored";

    EXPECT_EQ(terminate_process_named(image.c_str()), 1);
    int first_code = program_wait(first, 5000);
    int second_code = program_wait(second, first_code == 9 ? 300 : 5000);
    EXPECT_TRUE((first_code == 9) != (second_code == 9)) << "exactly one ends: " << first_code << " " << second_code;
    EXPECT_EQ(terminate_process_named(image.c_str()), 1);
    EXPECT_EQ(program_wait(first, 10000), 9);
    EXPECT_EQ(program_wait(second, 10000), 9);
    testing::wait_until([&] { return !is_process_running(image.c_str()); });
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

// The release step ends the runtime's files for good, so each case runs in
// a child process that reports what it saw in its exit code.
int handler_outcome(int event, const fs::path& path) {
    if (!file_open(3, path.string().c_str())) return 1;
    if (file_write_text(3, "held in the buffer", ENCODING_8BIT) <= 0) return 2;
    if (console_control_handler(event) != 0) return 3;
    bool released = testing::read_file(path) == "held in the buffer";
    file_close(3);
    return released ? 10 : 20;
}

TEST_F(Desktop, CloseEventRunsTheReleaseStepAndOthersDoNot) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fs::path path = fs::temp_directory_path() / own_name("-handler");
    for (int event : {console_ctrl_c, console_ctrl_break, console_ctrl_logoff, console_ctrl_shutdown}) {
        EXPECT_EXIT(std::exit(handler_outcome(event, path)), ::testing::ExitedWithCode(20), "") << event;
    }
    EXPECT_EXIT(std::exit(handler_outcome(console_ctrl_close, path)), ::testing::ExitedWithCode(10), "");
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace
} // namespace quillgate
