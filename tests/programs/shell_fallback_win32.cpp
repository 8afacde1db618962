// The shell fallback on Windows: a document that CreateProcessA cannot start
// is opened with its default action; a stream flag forbids that.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/heap_check.h"
#include "tests/support/paths.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;

class ShellFallback : public testing::HeapChecked {};

TEST_F(ShellFallback, OpensADocumentUnlessAStreamIsAsked) {
    const fs::path folder =
        fs::temp_directory_path() /
        ("quillgate-shell-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    // .ini files open in the editor Windows ships (Wine too).
    const std::string document = (folder / "a.ini").string();
    std::ofstream(document) << "[not]\nprogram=1\n";

    EXPECT_EQ(program_run(document.c_str(), "", "", RUN_KEEP_OBJECT | RUN_PIPE_OUTPUT) +
                  program_run(document.c_str(), "", "", RUN_INPUT_FROM_SENDER),
              0);

    auto* opened =
        reinterpret_cast<program_object*>(program_run(document.c_str(), "", "", RUN_KEEP_OBJECT | RUN_HIDDEN));
    ASSERT_NE(opened, nullptr) << "the default action for text documents";
    EXPECT_EQ(opened->process_id + opened->output_read, -1) << "started by the shell, no pipes";
    testing::kill_program(opened);
    program_wait(opened, 10000);
    program_close(opened);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace
} // namespace quillgate
