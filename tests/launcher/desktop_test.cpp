// Image names and titles, the console's close event and the release step it
// runs. (Processes and the delay are played end to end by the launch
// scenarios.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/xml/xml.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

class Desktop : public HeapChecked {};

TEST_F(Desktop, WholeImageNamesAndTitleFragmentsMatchInAnyCase) {
    EXPECT_TRUE(image_name_matches("\"C:\\a b\\NOTEPAD++.EXE\" -x", "notepad++.exe") && title_contains("xcMdx", "cmd"));
    EXPECT_FALSE(image_name_matches("C:\\notepad++.exe/mynotepad++.exe.bak", "notepad++.exe"));
    EXPECT_FALSE(title_contains("Command", "cmd") || title_contains("", "cmd") || title_contains("cmd", ""));
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
