// The synchronisation under injected failures: every allocation and every
// I/O call, in turn, fails once or from then on. Whatever fails, nothing
// leaks, config.xml is wholly old or wholly new, no temporary file is left,
// and state.txt never records a folder whose update missed config.xml.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>

#include "launcher/sync.h"
#include "runtime/files/files.h"
#include "runtime/xml/xml.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

const std::string new_folder = "D:\\new kit\\";
const std::string old_config =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<NotepadPlus>\r\n    <GUIConfigs>\r\n"
    "        <GUIConfig name=\"TabBar\" dragAndDrop=\"yes\" />\r\n        <!-- tabs -->\r\n    </GUIConfigs>\r\n"
    "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"C:\\old kit\\work\" />\r\n"
    "    </FileBrowser>\r\n</NotepadPlus>\r\n";

class SyncUnderFaults : public testing::HeapChecked {
protected:
    void SetUp() override {
        slot_acquire(file_table(), state_file_slot);
        slot_acquire(xml_table(), config_document_slot);
        testing::HeapChecked::SetUp();
        editor_ = fs::temp_directory_path() /
                  ("quillgate-faults-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(editor_);
        run([](int) {}, 0);
        new_config_ = read_file(editor_ / "config.xml");
        EXPECT_NE(new_config_, old_config);
        EXPECT_EQ(read_file(editor_ / "state.txt"), new_folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(editor_, ignored);
        testing::HeapChecked::TearDown();
    }

    // One synchronisation of the old kit into the new folder with failure n
    // armed; whether the fault fired.
    bool run(
        const std::function<void(int)>& inject, int n, const std::function<bool()>& fired = [] { return false; }) {
        write_file(editor_ / "config.xml", old_config);
        write_file(editor_ / "state.txt", "C:\\old kit\\");
        inject(n);
        sync_workspace_folder(new_folder.c_str(),
                              (editor_.string() + static_cast<char>(fs::path::preferred_separator)).c_str());
        bool result = fired();
        heap_fail_after(-1);
        io_fail_after(-1);
        xml_free(config_document_slot);
        return result;
    }

    // Failure points n = 0, 1, ... until a run passes without the fault
    // firing; returns their number.
    int walk_failure_points(const std::function<void(int)>& inject, const std::function<bool()>& fired) {
        for (int n = 0; n < 100000; ++n) {
            bool failed = run(inject, n, fired);
            const std::string config = read_file(editor_ / "config.xml");
            const std::string state = read_file(editor_ / "state.txt");
            EXPECT_TRUE(config == old_config || config == new_config_) << "failure point " << n;
            if (state == new_folder) {
                EXPECT_EQ(config, new_config_) << "failure point " << n;
            }
            EXPECT_TRUE(fs::exists(editor_ / "state.txt")) << "failure point " << n;
            EXPECT_EQ(std::distance(fs::directory_iterator(editor_), fs::directory_iterator()), 2)
                << "a file left behind at failure point " << n;
            if (::testing::Test::HasFailure()) return n;
            if (!failed) {
                EXPECT_EQ(config, new_config_);
                EXPECT_EQ(state, new_folder);
                return n;
            }
        }
        ADD_FAILURE() << "the synchronisation never completed";
        return 0;
    }

    fs::path editor_;
    std::string new_config_;
};

TEST_F(SyncUnderFaults, EveryAllocationAndIoFailure) {
    for (bool persistent : {false, true}) {
        int allocations = walk_failure_points([&](int n) { heap_fail_after(n, persistent); }, heap_fault_fired);
        int io_calls = walk_failure_points([&](int n) { io_fail_after(n, persistent); }, io_fault_fired);
        EXPECT_GT(allocations, 5);
        EXPECT_GT(io_calls, 3);
        std::printf("failure points (%s): %d allocations, %d I/O calls\n", persistent ? "persistent" : "once",
                    allocations, io_calls);
    }
}

} // namespace
} // namespace quillgate
