// The shell fallback on POSIX hands the file to xdg-open; a stand-in
// xdg-open on the PATH records where and with what it was started.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/files.h"
#include "tests/support/heap_check.h"
#include "tests/support/paths.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

class ShellFallback : public testing::HeapChecked {
protected:
    void SetUp() override {
        HeapChecked::SetUp();
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "bin");
        fs::create_directories(folder_ / "docs");
        std::ofstream(folder_ / "bin" / "xdg-open")
            << "#!/bin/sh\nprintf 'cwd=%s arg=%s\\n' \"$(pwd)\" \"$1\" >> '" << log_.string() << "'\n";
        chmod((folder_ / "bin" / "xdg-open").c_str(), 0755);
        std::ofstream(document_) << "not a program";
        testing::set_environment("PATH", ((folder_ / "bin").string() + ":" + saved_path_).c_str());
    }
    void TearDown() override {
        testing::set_environment("PATH", saved_path_.c_str());
        fs::remove_all(folder_);
        HeapChecked::TearDown();
    }

    const fs::path folder_ = fs::temp_directory_path() / ("quillgate-shell-" + std::to_string(getpid()));
    const fs::path log_ = folder_ / "opener.log";
    const fs::path document_ = folder_ / "docs" / "a.txt";
    const std::string saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
};

TEST_F(ShellFallback, OpensADocumentInItsOwnFolderUnlessAStreamIsAsked) {
    for (std::uint32_t flag : {RUN_PIPE_OUTPUT, RUN_PIPE_INPUT, RUN_PIPE_ERRORS, RUN_INPUT_FROM_SENDER})
        EXPECT_EQ(program_run(document_.c_str(), "", "", RUN_WAIT_EXIT | flag), 0) << flag;
    EXPECT_EQ(read_file(log_), "") << "the opener never ran";
    const std::string opened_in_docs = "cwd=" + (folder_ / "docs").string() + " arg=" + document_.string() + "\n";
    EXPECT_EQ(program_run(document_.c_str(), "", "", RUN_WAIT_EXIT), 1);
    EXPECT_EQ(read_file(log_), opened_in_docs);

    // A working folder given is kept.
    EXPECT_EQ(program_run(document_.c_str(), "", folder_.c_str(), RUN_WAIT_EXIT), 1);
    EXPECT_EQ(read_file(log_), opened_in_docs + "cwd=" + folder_.string() + " arg=" + document_.string() + "\n");

    auto* kept =
        reinterpret_cast<program_object*>(program_run(document_.c_str(), "", "", RUN_WAIT_EXIT | RUN_KEEP_OBJECT));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->process_id + kept->output_read, -1) << "started by the shell, no pipes";
    EXPECT_EQ(program_wait(kept, 10000), 0);
    program_close(kept);

    testing::set_environment("PATH", (folder_ / "docs").c_str());
    EXPECT_EQ(program_run(document_.c_str(), "", "", RUN_WAIT_EXIT), 0) << "no opener on the PATH";
}

} // namespace
} // namespace quillgate
