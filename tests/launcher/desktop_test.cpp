// The desktop operations: name and title rules in one table, processes
// terminated by image name, the delay, the console's close event and the
// release step it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/xml/xml.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

class Desktop : public HeapChecked {};

TEST_F(Desktop, NamesAndTitlesMatchInAnyCase) {
    const char* const rows[][4] = {
        // image path, its file part, an image name or title fragment, "1" when it matches
        {"\"C:\\a b\\NOTEPAD++.EXE\" -x", "NOTEPAD++.EXE", "notepad++.exe", "1"},
        {"C:\\mixed/sep\\x.exe", "x.exe", "X.exe", "1"},
        {"C:\\notepad++.exe\\mynotepad++.exe.bak", "mynotepad++.exe.bak", "notepad++.exe", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(image_file_part(row[0]), row[1]);
        EXPECT_EQ(image_name_matches(row[0], row[2]), *row[3] != 0) << row[0];
    }
    EXPECT_TRUE(title_contains("C:\\Windows\\system32\\CMD.exe", "cmd") && title_contains("xcMdx", "cmd"));
    EXPECT_FALSE(title_contains("Command Prompt", "cmd") || title_contains("", "cmd") || title_contains("cmd", ""));
    EXPECT_FALSE(title_contains(nullptr, "cmd"));
}

TEST_F(Desktop, ProcessesEndOneByOneAndTheDelayAsksForItsTimerOnce) {
    Kit kit("desktop");
    // A name of this run's own in other letters, so nothing else is touched.
    const std::string image = "qg" + stamp() + "PHP.EXE", name = image.substr(0, image.size() - 7) + "php.exe";
    EXPECT_EQ(terminate_process_named(name.c_str()), 0);
    program_object* sleepers[] = {kit.start_sleeper(image), kit.start_sleeper(image)};
    ASSERT_TRUE(sleepers[0] && sleepers[1] && process_appears(name));
    EXPECT_EQ(terminate_process_named(name.c_str()), 1);
    int first = program_wait(sleepers[0], 5000);
    EXPECT_TRUE((first == 9) != (program_wait(sleepers[1], first == 9 ? 300 : 5000) == 9)) << "exactly one ends";
    EXPECT_EQ(terminate_process_named(name.c_str()), 1);
    EXPECT_TRUE(program_wait(sleepers[0], 10000) == 9 && program_wait(sleepers[1], 10000) == 9);
    auto start = std::chrono::steady_clock::now();
    delay_ms(30);
    delay_ms(1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    EXPECT_EQ(delay_resolution_requests(), 1);
}

// The release step ends the runtime for good, so each event is played in a
// child process that reports in its exit code whether it ran.
int handler_outcome(int event, const fs::path& folder) {
    write_file(folder / "a.xml", "<a/>");
    if (!xml_load(0, (folder / "a.xml").string().c_str(), ENCODING_8BIT)) return 1;
    if (!file_open(3, (folder / "s").string().c_str()) || file_write_text(3, "buffered", ENCODING_8BIT) <= 0) return 2;
    if (console_control_handler(event) != 0) return 3;
    return read_file(folder / "s") == "buffered" && !xml_document_get(0) ? 10 : 20;
}

TEST_F(Desktop, CloseEventRunsTheReleaseStepWhichWaitsForWorkUnderWay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Kit kit("handler");
    for (int event :
         {console_ctrl_c, console_ctrl_break, console_ctrl_logoff, console_ctrl_shutdown, console_ctrl_close}) {
        EXPECT_EXIT(std::exit(handler_outcome(event, kit.root())),
                    ::testing::ExitedWithCode(event == console_ctrl_close ? 10 : 20), "")
            << event;
    }
    ASSERT_TRUE(runtime_work_begin());
    std::atomic<bool> released{false};
    std::thread closer([&] {
        runtime_end();
        released = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(released) << "the release step waits for the work under way";
    runtime_work_end();
    closer.join();
    EXPECT_FALSE(runtime_work_begin()) << "after the release nothing may be touched";
    runtime_end();
    ASSERT_TRUE(runtime_init()); // for the tests after this one
}

} // namespace
} // namespace quillgate
