// The synchronisation under injected failures: every allocation and every
// I/O call, in turn, fails once or from then on. Whatever fails, nothing
// leaks, config.xml is wholly old or wholly new, no temporary file is left,
// and state.txt never records a folder whose update missed config.xml.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "launcher/sync.h"
#include "runtime/core/heap.h"
#include "runtime/files/files.h"
#include "runtime/platform/file_io.h"
#include "runtime/xml/xml.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;

using testing::read_file;
using testing::write_file;

const std::string old_folder = "C:\\old kit\\";
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
        editor_text_ = editor_.string() + static_cast<char>(fs::path::preferred_separator);
        new_config_ = run_once_cleanly();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(editor_, ignored);
        testing::HeapChecked::TearDown();
    }

    void lay_out() {
        write_file(editor_ / "config.xml", old_config);
        write_file(editor_ / "state.txt", old_folder);
    }
    void sync() {
        sync_workspace_folder(new_folder.c_str(), editor_text_.c_str());
        heap_fail_after(-1);
        io_fail_after(-1);
        xml_free(config_document_slot);
    }
    std::string run_once_cleanly() {
        lay_out();
        sync();
        std::string result = read_file(editor_ / "config.xml");
        EXPECT_NE(result, old_config);
        EXPECT_EQ(read_file(editor_ / "state.txt"), new_folder);
        return result;
    }

    // Runs the synchronisation with failure n injected by `inject` for
    // n = 0, 1, ... until a run passes without the fault firing; checks each
    // outcome and returns the number of failure points.
    template <typename Inject, typename Fired>
    int walk_failure_points(Inject inject, Fired fired) {
        for (int n = 0; n < 100000; ++n) {
            lay_out();
            inject(n);
            sync_workspace_folder(new_folder.c_str(), editor_text_.c_str());
            bool failed = fired();
            heap_fail_after(-1);
            io_fail_after(-1);
            xml_free(config_document_slot);

            const std::string config = read_file(editor_ / "config.xml");
            const std::string state = read_file(editor_ / "state.txt");
            EXPECT_TRUE(config == old_config || config == new_config_) << "failure point " << n;
            if (state == new_folder) {
                EXPECT_EQ(config, new_config_) << "failure point " << n;
            }
            int entries = 0;
            for (const auto& entry : fs::directory_iterator(editor_)) {
                ++entries;
                EXPECT_TRUE(entry.path().filename() == "config.xml" || entry.path().filename() == "state.txt")
                    << "left behind: " << entry.path() << " at failure point " << n;
            }
            EXPECT_EQ(entries, 2);
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
    std::string editor_text_;
    std::string new_config_;
};

TEST_F(SyncUnderFaults, EveryAllocationFailure) {
    for (bool persistent : {false, true}) {
        int points =
            walk_failure_points([&](int n) { heap_fail_after(n, persistent); }, [] { return heap_fault_fired(); });
        EXPECT_GT(points, 5);
        std::printf("allocation failure points (%s): %d\n", persistent ? "persistent" : "once", points);
    }
}

TEST_F(SyncUnderFaults, EveryIoFailure) {
    for (bool persistent : {false, true}) {
        int points = walk_failure_points([&](int n) { io_fail_after(n, persistent); }, [] { return io_fault_fired(); });
        EXPECT_GT(points, 3);
        std::printf("I/O failure points (%s): %d\n", persistent ? "persistent" : "once", points);
    }
}

} // namespace
} // namespace quillgate
