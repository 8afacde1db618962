// Windows-only launcher scenarios: "cmd" windows closed one by one, and the
// launcher's console hidden while the editor runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "tests/launcher/kit.h"

namespace quillgate::testing {

namespace {

std::vector<long long> close_times(const fs::path& log) {
    std::istringstream in(read_file(log));
    std::vector<long long> times;
    std::string word;
    long long at = 0;
    while (in >> word) {
        if (word == "close" && in >> at) times.push_back(at);
    }
    return times;
}

// A stand-in window with that title, logging to sleepers/<log>.
fs::path open_window(Kit& kit, const std::string& title, const std::string& log, bool keep = false) {
    fs::path path = kit.root() / "sleepers" / log;
    std::string parameters = "\"" + title + "\" \"" + path.string() + "\"" + (keep ? " keep" : "");
    kit.keep(reinterpret_cast<program_object*>(
        program_run(standin_path("window").c_str(), parameters.c_str(), "", RUN_KEEP_OBJECT)));
    EXPECT_TRUE(wait_until([&] { return read_file(path).find("ready") != std::string::npos; })) << title;
    return path;
}

} // namespace

void platform_launch_scenarios() {
    {
        SCOPED_TRACE("every \"cmd\" window gets WM_CLOSE, one poll after the other");
        Kit kit("windows");
        fs::path one = open_window(kit, "Test CMD one", "one.log");
        fs::path two = open_window(kit, "second xcmdx", "two.log");
        fs::path untitled = open_window(kit, "", "untitled.log");
        fs::path other = open_window(kit, "Other window", "other.log");
        EXPECT_EQ(kit.run_launcher().exit_code, 0);
        auto first = close_times(one);
        auto second = close_times(two);
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(second.size(), 1u);
        long long apart = first[0] > second[0] ? first[0] - second[0] : second[0] - first[0];
        EXPECT_GE(apart, 50) << "the second after the next poll";
        EXPECT_LE(apart, 5000);
        EXPECT_TRUE(close_times(untitled).empty());
        EXPECT_TRUE(close_times(other).empty());
    }
    {
        SCOPED_TRACE("a \"cmd\" window that never closes stops the polling after 100 rounds");
        Kit kit("stubborn");
        fs::path log = open_window(kit, "stubborn cmd", "stubborn.log", true);
        auto outcome = kit.run_launcher();
        EXPECT_EQ(outcome.exit_code, 0);
        // The last message may still be on its way when the launcher ends.
        EXPECT_GE(close_times(log).size(), 95u);
        EXPECT_LE(close_times(log).size(), 100u) << "posted once per poll, at most 100 polls";
        EXPECT_LE(outcome.took, std::chrono::milliseconds(40000));
    }
    {
        SCOPED_TRACE("the console exists, is titled and hidden while the editor runs");
        Kit kit("console");
        kit.install_editor();
        program_object* launcher = kit.start_launcher_holding_editor();
        ASSERT_NE(launcher, nullptr);
        window_handle console = 0;
        EXPECT_TRUE(wait_until([&] { return (console = find_window_with_title("Quillgate by Trevane")) != 0; }));
        if (console) {
            EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(console)));
        }
        kit.release_editor();
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        EXPECT_EQ(find_window_with_title("Quillgate by Trevane"), 0) << "the console went with the launcher";
    }
}

} // namespace quillgate::testing
