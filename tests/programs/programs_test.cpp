// The program runner: its command-line rules on their own, and real starts
// of the stand-in programs (quoting, working folder, hidden and detached
// starts, waiting, pipes and chains, failing allocations).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "runtime/core/heap.h"
#include "runtime/processes.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"
#include "tests/support/paths.h"
#include "tests/support/results.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;
using namespace quillgate::testing;
using list = std::vector<std::string>;

list split(const char* line) {
    char** arguments = program_split_command_line(line);
    list out;
    for (char** a = arguments; a && *a; ++a) out.emplace_back(*a);
    heap_free(arguments);
    return out;
}

std::string read_all(os_handle handle) {
    std::string out;
    char buffer[256];
    while (std::uint32_t got = os_file_read(handle, buffer, sizeof buffer)) out.append(buffer, got);
    return out;
}

program_object* start_kept(const std::string& program, const char* parameters, std::uint32_t flags,
                           program_object* sender = nullptr) {
    return reinterpret_cast<program_object*>(
        program_run(program.c_str(), parameters, "", RUN_KEEP_OBJECT | flags, sender));
}

class Programs : public HeapChecked {
protected:
    void SetUp() override {
        HeapChecked::SetUp();
        fs::create_directories(folder_ / "My Tools");
        set_environment("QUILLGATE_EDITOR_LOG", (folder_ / "editor.log").string().c_str());
    }
    void TearDown() override {
        set_environment("QUILLGATE_EDITOR_LOG", nullptr);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        HeapChecked::TearDown();
    }
    std::map<std::string, std::string> last_run() const { return editor_last_run(folder_ / "editor.log"); }

    const fs::path folder_ =
        fs::temp_directory_path() /
        ("quillgate-programs-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    const std::string editor_ = standin_path("editor"), filter_ = standin_path("filter");
};

TEST_F(Programs, CommandLinesByTheWindowsRules) {
    EXPECT_EQ(program_command_line("D:\\My Tools\\ed.exe", ""), "\"D:\\My Tools\\ed.exe\"");
    EXPECT_EQ(program_command_line("D:\\x\\ed.exe", "a b"), "\"D:\\x\\ed.exe\" a b");
    EXPECT_EQ(program_command_line("\"D:\\x\\ed.exe\" -n", nullptr), "\"D:\\x\\ed.exe\" -n");
    EXPECT_EQ(program_command_line(nullptr, nullptr), "\"\"");
    // The folder is the text up to the last separator, unless that is the first character.
    for (auto [program, folder] :
         {std::pair{"D:\\a\\b\\c.txt", "D:\\a\\b\\"}, {"\\a.txt", ""}, {"a.txt", ""}, {nullptr, ""}})
        EXPECT_EQ(program_shell_folder(program, '\\'), folder) << (program ? program : "null");
    const std::pair<const char*, list> splits[] = {
        {"\"C:\\My Dir\\p.exe\" a  \"b c\" d", {"C:\\My Dir\\p.exe", "a", "b c", "d"}},
        // Backslashes count only before a double quote.
        {"p a\\\\b \"c\\\\\" d\\\"e f\\\\\\\"g", {"p", "a\\\\b", "c\\", "d\"e", "f\\\"g"}},
        {"p \"a\"\"b\" x\"y z\"w \"\"", {"p", "a\"b", "xy zw", ""}},
        {"\"C:\\x\\\" y", {"C:\\x\\", "y"}}, // the program name ends at its closing quote
        {"\t p\t", {"", "p"}},               // and cannot start after blanks
        {"", {}},
    };
    for (const auto& [line, expected] : splits) EXPECT_EQ(split(line), expected) << line;
    heap_fail_after(0, true);
    EXPECT_TRUE(program_command_line("ed.exe", "a").empty());
    EXPECT_EQ(program_split_command_line("p a b"), nullptr);
}

TEST_F(Programs, StartsWithQuotedPathsWorkingFolderAndShowState) {
    const std::string editor = (folder_ / "My Tools" / (std::string("ed") + executable_suffix())).string();
    fs::copy_file(editor_, editor);
    EXPECT_EQ(program_run(editor.c_str(), "a \"b c\"  d", (folder_ / "My Tools").string().c_str(), RUN_WAIT_EXIT), 1);
    auto run = last_run();
    EXPECT_EQ(run["complete"] + run["argc"] + run["arg2"] + "|" + run["arg3"], "14b c|d") << "ended before the return";
    EXPECT_EQ(run["arg0"], editor);
    EXPECT_TRUE(fs::equivalent(run["cwd"], folder_ / "My Tools")) << run["cwd"];
    const std::string built = "\"" + editor + "\" a \"b c\"  d"; // where the system shows the command line
    EXPECT_EQ(run.count("cmdline") ? run["cmdline"] : built, built);
    // Already quoted: taken as it stands; no working folder: ours; no trailing space.
    EXPECT_EQ(program_run(("\"" + editor + "\"").c_str(), nullptr, "", RUN_WAIT_EXIT | RUN_HIDDEN), 1);
    auto hidden = last_run();
    EXPECT_EQ(hidden["argc"], "1");
    EXPECT_TRUE(fs::equivalent(hidden["cwd"], fs::current_path())) << hidden["cwd"];
    EXPECT_EQ(hidden.count("cmdline") ? hidden["cmdline"] : "\"" + editor + "\"", "\"" + editor + "\"");
    // The creation time of what was started, on the clock that dates this
    // process and every later one; none for a start that failed.
    process_time created[] = {0, 0, 1};
    EXPECT_EQ(program_run(editor.c_str(), "", "", RUN_WAIT_EXIT, nullptr, &created[0]), 1);
    program_object* later = start_kept(editor_, "", RUN_WAIT_EXIT);
    created[1] = later ? process_handle_created(later->process) : 0;
    program_close(later);
    EXPECT_EQ(program_run((folder_ / "none").string().c_str(), "", "", RUN_WAIT_EXIT, nullptr, &created[2]), 0);
    const process_time self = process_created(this_process_id());
    EXPECT_EQ((results{self != 0, self <= created[0], created[0] <= created[1], created[2] == 0}), results(4, 1));
    program_close(start_kept(editor_, "", RUN_WAIT_EXIT | RUN_HIDDEN | RUN_PIPE_OUTPUT));
    auto piped = last_run();
    // A hidden start is detached from the console or terminal unless a stream is redirected.
    const bool windows = run.count("show") != 0;
    EXPECT_EQ(windows ? run["show"] + hidden["show"] + hidden["console"] + piped["show"]
                      : run["session_leader"] + hidden["session_leader"] + piped["session_leader"],
              windows ? "1000" : "010");
}

TEST_F(Programs, KeptObjectsChainThroughTheSendersOutput) {
    program_object* sender = start_kept(filter_, "--emit \"chain me\"", RUN_PIPE_OUTPUT);
    program_object* receiver = start_kept(filter_, "--upper", RUN_PIPE_OUTPUT | RUN_INPUT_FROM_SENDER, sender);
    ASSERT_NE(sender, nullptr);
    ASSERT_NE(receiver, nullptr);
    EXPECT_EQ(program_list_newest(), receiver) << "newest first";
    EXPECT_EQ(receiver->next, sender);
    EXPECT_EQ(receiver->input_write, 0) << "the sender's pipe takes the place of an input pipe";
    EXPECT_EQ(read_all(receiver->output_read), "CHAIN ME");
    EXPECT_EQ((results{program_wait(receiver, 10000), program_wait(sender, 10000)}), (results{0, 0}));
    EXPECT_NE(sender->output_read, 0) << "the sender keeps its own end";
    program_close(receiver);
    program_close(sender);
}

// A document that cannot be started as a program goes to the shell, which
// no stream flag allows: its default action on Windows (.ini files open in
// the editor it ships), xdg-open on POSIX (played by the stand-in editor),
// started in the document's folder unless one is given.
TEST_F(Programs, DocumentsGoToTheShellUnlessAStreamIsAsked) {
    const bool windows = *executable_suffix() != 0;
    const std::string document = (folder_ / "My Tools" / "a.ini").string(), path = std::getenv("PATH");
    write_file(document, "[not]\nprogram=1\n");
    fs::copy_file(editor_, folder_ / "xdg-open");
    set_environment("PATH", (folder_.string() + (windows ? ";" : ":") + path).c_str());
    for (std::uint32_t flag : {RUN_PIPE_OUTPUT, RUN_PIPE_INPUT, RUN_PIPE_ERRORS, RUN_INPUT_FROM_SENDER})
        EXPECT_EQ(program_run(document.c_str(), "", "", RUN_KEEP_OBJECT | flag), 0) << flag;
    EXPECT_FALSE(fs::exists(folder_ / "editor.log")) << "the opener never ran";
    program_object* opened = start_kept(document, "", RUN_HIDDEN | (windows ? 0 : RUN_WAIT_EXIT));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ((results{opened->process_id, opened->output_read}), (results{-1, 0})) << "started by the shell, no pipes";
    if (windows) kill_program(opened); // the editor stays open
    const int waited = program_wait(opened, 10000);
    if (!windows) {
        EXPECT_EQ(waited, 0);
    }
    program_close(opened);
    const std::string opener = last_run()["cwd"] + "|" + last_run()["arg1"]; // in the document's folder
    if (!windows) {
        EXPECT_EQ(opener, (folder_ / "My Tools").string() + "|" + document);
    }
    set_environment("PATH", path.c_str());
}

// Every allocation of a start with all three pipes failing in turn: the call
// gives 0 and leaves no pipe end open and no block behind, until it succeeds
// and its streams carry what they should; a missing program starts nothing.
TEST_F(Programs, FailedStartsLeaveNothingOpen) {
    const std::string missing = (folder_ / "none").string() + executable_suffix();
    EXPECT_EQ(start_kept(missing, "", RUN_PIPE_OUTPUT), nullptr);
    EXPECT_EQ(program_run(missing.c_str(), "", "", RUN_PIPE_INPUT), 0);
    EXPECT_FALSE(fs::exists(folder_ / "editor.log"));
    long handles_before = open_handle_count();
    for (long n = 0; n < 20; ++n) {
        heap_fail_after(n);
        program_object* program =
            start_kept(filter_, "--error oops --upper", RUN_PIPE_OUTPUT | RUN_PIPE_INPUT | RUN_PIPE_ERRORS);
        bool fired = heap_fault_fired();
        heap_fail_after(-1);
        if (!fired) {
            ASSERT_NE(program, nullptr);
            EXPECT_EQ(os_file_write(program->input_write, "fed through", 11), 11u);
            os_file_close(program->input_write);
            program->input_write = 0;
            EXPECT_EQ(read_all(program->output_read) + "|" + read_all(program->error_read), "FED THROUGH|oops");
            EXPECT_EQ((results{program_wait(program, 10000), program_wait(program, 0)}), (results{0, 0}))
                << "waited for twice";
            program_close(program);
            break;
        }
        EXPECT_EQ(program, nullptr) << "allocation " << n;
        EXPECT_EQ(open_handle_count(), handles_before) << "allocation " << n;
    }
    EXPECT_EQ(open_handle_count(), handles_before);
}

} // namespace
} // namespace quillgate
