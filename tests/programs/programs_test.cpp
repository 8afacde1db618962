// The program runner: its command line and argument rules on their own, and
// real starts of the stand-in programs (quoting, working folder, hidden and
// detached starts, pipes, chaining).
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "runtime/core/heap.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"
#include "tests/support/paths.h"

namespace quillgate {
namespace {

namespace fs = std::filesystem;
using testing::set_environment;
using testing::standin_path;

std::vector<std::string> split(const char* line) {
    std::vector<std::string> out;
    char** arguments = program_split_command_line(line);
    EXPECT_NE(arguments, nullptr);
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

class Programs : public testing::HeapChecked {
protected:
    void SetUp() override {
        HeapChecked::SetUp();
        folder_ = fs::temp_directory_path() /
                  ("quillgate-programs-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder_);
        set_environment("QUILLGATE_EDITOR_LOG", log().string().c_str());
    }
    void TearDown() override {
        set_environment("QUILLGATE_EDITOR_LOG", nullptr);
        set_environment("QUILLGATE_EDITOR_SLEEP_MS", nullptr);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        HeapChecked::TearDown();
    }
    fs::path log() const { return folder_ / "editor.log"; }
    std::map<std::string, std::string> last_run() const { return testing::editor_last_run(log()); }

    fs::path folder_;
    const std::string editor_ = standin_path("editor");
    const std::string filter_ = standin_path("filter");
};

TEST_F(Programs, CommandLineAndShellFolder) {
    EXPECT_EQ(program_command_line("D:\\My Tools\\ed.exe", ""), "\"D:\\My Tools\\ed.exe\"");
    EXPECT_EQ(program_command_line("D:\\x\\ed.exe", "a b"), "\"D:\\x\\ed.exe\" a b");
    EXPECT_EQ(program_command_line("\"D:\\x\\ed.exe\" -n", nullptr), "\"D:\\x\\ed.exe\" -n");
    EXPECT_EQ(program_command_line(nullptr, nullptr), "\"\"");
    heap_fail_after(0);
    EXPECT_TRUE(program_command_line("ed.exe", "a").empty());
    heap_fail_after(-1);

    // The folder is the text up to the last separator, unless that is the
    // first character.
    EXPECT_EQ(program_shell_folder("D:\\a\\b\\c.txt", '\\'), "D:\\a\\b\\");
    EXPECT_EQ(program_shell_folder("/srv/docs/a.txt", '/'), "/srv/docs/");
    EXPECT_TRUE(program_shell_folder("\\a.txt", '\\').empty());
    EXPECT_TRUE(program_shell_folder("a.txt", '\\').empty());
    EXPECT_TRUE(program_shell_folder(nullptr, '\\').empty());
}

TEST_F(Programs, CommandLineSplitsByTheWindowsRules) {
    using list = std::vector<std::string>;
    EXPECT_EQ(split("\"C:\\My Dir\\p.exe\" a  \"b c\" d"), (list{"C:\\My Dir\\p.exe", "a", "b c", "d"}));
    // Backslashes count only before a double quote.
    EXPECT_EQ(split("p a\\\\b \"c\\\\\" d\\\"e f\\\\\\\"g"), (list{"p", "a\\\\b", "c\\", "d\"e", "f\\\"g"}));
    // Doubled quotes inside a quoted part, quotes in the middle of a word.
    EXPECT_EQ(split("p \"a\"\"b\" x\"y z\"w \"\""), (list{"p", "a\"b", "xy zw", ""}));
    // The program name ends at its closing quote; backslashes are plain there.
    EXPECT_EQ(split("\"C:\\x\\\" y"), (list{"C:\\x\\", "y"}));
    EXPECT_EQ(split("\t p\t"), (list{"", "p"})) << "a program name cannot start after blanks";
    EXPECT_TRUE(split("").empty());

    heap_fail_after(0);
    EXPECT_EQ(program_split_command_line("p a b"), nullptr);
}

TEST_F(Programs, StartsWithQuotedPathParametersAndWorkingFolder) {
    fs::create_directories(folder_ / "My Tools");
    fs::create_directories(folder_ / "work");
    const std::string editor = (folder_ / "My Tools" / (std::string("ed") + testing::executable_suffix())).string();
    fs::copy_file(editor_, editor);

    EXPECT_EQ(program_run(editor.c_str(), "a \"b c\"  d", (folder_ / "work").string().c_str(), RUN_WAIT_EXIT), 1);
    auto run = last_run();
    ASSERT_EQ(run["complete"], "1") << "the editor ran to its end before program_run returned";
    EXPECT_EQ(run["argc"], "4");
    EXPECT_EQ(run["arg0"], editor);
    EXPECT_EQ(run["arg2"], "b c");
    EXPECT_EQ(run["arg3"], "d");
    EXPECT_TRUE(fs::equivalent(run["cwd"], folder_ / "work"));
    if (run.count("cmdline")) {
        EXPECT_EQ(run["cmdline"], "\"" + editor + "\" a \"b c\"  d");
    }

    // Already quoted: taken as it stands; no working folder: ours.
    const std::string quoted = "\"" + editor + "\"";
    EXPECT_EQ(program_run(quoted.c_str(), nullptr, "", RUN_WAIT_EXIT), 1);
    run = last_run();
    EXPECT_EQ(run["argc"], "1");
    EXPECT_EQ(run["arg0"], editor);
    EXPECT_TRUE(fs::equivalent(run["cwd"], fs::current_path()));
    if (run.count("cmdline")) {
        EXPECT_EQ(run["cmdline"], quoted) << "no trailing space without parameters";
    }
}

TEST_F(Programs, HiddenStartIsDetachedUnlessAStreamIsRedirected) {
    ASSERT_EQ(program_run(editor_.c_str(), "", "", RUN_WAIT_EXIT), 1);
    auto normal = last_run();
    ASSERT_EQ(program_run(editor_.c_str(), "", "", RUN_WAIT_EXIT | RUN_HIDDEN), 1);
    auto hidden = last_run();
    program_object* piped = start_kept(editor_, "", RUN_WAIT_EXIT | RUN_HIDDEN | RUN_PIPE_OUTPUT);
    ASSERT_NE(piped, nullptr);
    auto hidden_piped = last_run();
    program_close(piped);

    if (normal.count("show")) {
        EXPECT_EQ(normal["show"], "1");
        EXPECT_EQ(hidden["show"], "0");
        EXPECT_EQ(hidden["console"], "0") << "detached from any console";
        EXPECT_EQ(hidden_piped["show"], "0");
    } else {
        EXPECT_EQ(normal["session_leader"], "0");
        EXPECT_EQ(hidden["session_leader"], "1") << "detached from the terminal";
        EXPECT_EQ(hidden_piped["session_leader"], "0") << "a redirected stream keeps it attached";
    }
}

TEST_F(Programs, KeptObjectsHoldPipesAndChainThroughTheSendersOutput) {
    program_object* program =
        start_kept(filter_, "--emit \"hello there\" --error oops", RUN_PIPE_OUTPUT | RUN_PIPE_ERRORS);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program_list_newest(), program);
    EXPECT_EQ(program->input_write, 0);
    EXPECT_EQ(read_all(program->output_read), "hello there");
    EXPECT_EQ(read_all(program->error_read), "oops");
    EXPECT_EQ(program_wait(program, 10000), 0);
    EXPECT_EQ(program_wait(program, 0), 0) << "a program can be waited for again";

    program_object* upper = start_kept(filter_, "--upper", RUN_PIPE_INPUT | RUN_PIPE_OUTPUT);
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(upper->next, program) << "the list runs from the newest to the oldest";
    EXPECT_EQ(os_file_write(upper->input_write, "fed through", 11), 11u);
    os_file_close(upper->input_write);
    upper->input_write = 0;
    EXPECT_EQ(read_all(upper->output_read), "FED THROUGH");
    EXPECT_EQ(program_wait(upper, 10000), 0);
    program_close(upper);
    EXPECT_EQ(program_list_newest(), program);
    program_close(program);

    program_object* sender = start_kept(filter_, "--emit \"chain me\"", RUN_PIPE_OUTPUT);
    ASSERT_NE(sender, nullptr);
    program_object* receiver = start_kept(filter_, "--upper", RUN_PIPE_OUTPUT | RUN_INPUT_FROM_SENDER, sender);
    ASSERT_NE(receiver, nullptr);
    EXPECT_EQ(receiver->input_write, 0) << "the sender's pipe takes the place of an input pipe";
    EXPECT_EQ(read_all(receiver->output_read), "CHAIN ME");
    EXPECT_EQ(program_wait(receiver, 10000), 0);
    EXPECT_EQ(program_wait(sender, 10000), 0);
    EXPECT_NE(sender->output_read, 0) << "the sender keeps its own end";
    program_close(receiver);
    program_close(sender);
}

TEST_F(Programs, ReturnsAtOnceWithoutWaitingAndAfterTheEndWithWaiting) {
    set_environment("QUILLGATE_EDITOR_SLEEP_MS", "1500");
    program_object* program = start_kept(editor_, "", 0);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program_wait(program, 0), -1) << "still running when program_run returned";
    EXPECT_EQ(program_wait(program, 20000), 0);
    program_close(program);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(program_run(editor_.c_str(), "", "", RUN_WAIT_EXIT), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));

    // Neither waited for nor kept: the call does not wait for the end either.
    set_environment("QUILLGATE_EDITOR_SLEEP_MS", "3000");
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(program_run(editor_.c_str(), "", "", 0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
}

TEST_F(Programs, NothingStartsFromAMissingProgram) {
    const std::string missing = (folder_ / "missing" / (std::string("none") + testing::executable_suffix())).string();
    EXPECT_EQ(start_kept(missing, "", RUN_PIPE_OUTPUT), nullptr);
    EXPECT_EQ(program_run(missing.c_str(), "", "", RUN_PIPE_INPUT), 0);
    EXPECT_FALSE(fs::exists(log()));
}

// Every allocation of a kept, piped start failing in turn: the call gives 0
// and leaves no pipe end open and no block behind, until it succeeds.
TEST_F(Programs, AllocationFailuresCloseThePipes) {
    long handles_before = testing::open_handle_count();
    for (long n = 0; n < 20; ++n) {
        heap_fail_after(n);
        program_object* program = start_kept(filter_, "--emit x", RUN_PIPE_OUTPUT | RUN_PIPE_INPUT);
        bool fired = heap_fault_fired();
        heap_fail_after(-1);
        if (!fired) {
            ASSERT_NE(program, nullptr);
            EXPECT_EQ(read_all(program->output_read), "x");
            EXPECT_EQ(program_wait(program, 10000), 0);
            program_close(program);
            break;
        }
        EXPECT_EQ(program, nullptr) << "allocation " << n;
        EXPECT_EQ(testing::open_handle_count(), handles_before) << "allocation " << n;
    }
    EXPECT_EQ(testing::open_handle_count(), handles_before);
}

} // namespace
} // namespace quillgate
