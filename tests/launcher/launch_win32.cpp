// Windows-only launcher scenarios: "cmd" windows closed one by one, and the
// launcher's console hidden while the editor runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "tests/launcher/kit.h"

namespace quillgate::testing {

namespace {

bool wait_for(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<long long> close_times(const fs::path& log) {
    std::istringstream in(read_file(log));
    std::vector<long long> times;
    std::string word;
    while (in >> word) {
        if (word == "close") {
            long long at = 0;
            in >> at;
            times.push_back(at);
        }
    }
    return times;
}

program_object* open_window(Kit& kit, const std::string& title, const fs::path& log, bool keep = false) {
    std::string parameters = "\"" + title + "\" \"" + log.string() + "\"" + (keep ? " keep" : "");
    auto* program = reinterpret_cast<program_object*>(
        program_run(standin_path("window").c_str(), parameters.c_str(), "", RUN_KEEP_OBJECT));
    kit.keep(program);
    EXPECT_TRUE(wait_for([&] { return read_file(log).find("ready") != std::string::npos; })) << title;
    return program;
}

} // namespace

void platform_launch_scenarios() {
    {
        SCOPED_TRACE("every \"cmd\" window gets WM_CLOSE, one poll after the other");
        Kit kit("windows");
        fs::path logs = kit.root() / "sleepers";
        open_window(kit, "Test CMD one", logs / "one.log");
        open_window(kit, "second xcmdx", logs / "two.log");
        open_window(kit, "", logs / "untitled.log");
        open_window(kit, "Other window", logs / "other.log");
        auto outcome = kit.run_launcher();
        EXPECT_EQ(outcome.exit_code, 0);
        auto one = close_times(logs / "one.log");
        auto two = close_times(logs / "two.log");
        ASSERT_EQ(one.size(), 1u);
        ASSERT_EQ(two.size(), 1u);
        long long apart = one[0] > two[0] ? one[0] - two[0] : two[0] - one[0];
        EXPECT_GE(apart, 50) << "the second after the next poll";
        EXPECT_LE(apart, 5000);
        EXPECT_TRUE(close_times(logs / "untitled.log").empty());
        EXPECT_TRUE(close_times(logs / "other.log").empty());
    }
    {
        SCOPED_TRACE("a \"cmd\" window that never closes stops the polling after 100 rounds");
        Kit kit("stubborn");
        fs::path log = kit.root() / "sleepers" / "stubborn.log";
        open_window(kit, "stubborn cmd", log, true);
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
        fs::path release = kit.root() / "release";
        set_environment("QUILLGATE_EDITOR_WAIT_FILE", release.string().c_str());
        program_object* launcher = kit.start_launcher();
        set_environment("QUILLGATE_EDITOR_WAIT_FILE", nullptr);
        ASSERT_NE(launcher, nullptr);
        ASSERT_TRUE(wait_for([&] { return kit.last_editor_run()["complete"] == "1"; }));
        window_handle console = 0;
        EXPECT_TRUE(wait_for([&] { return (console = find_window_with_title("Quillgate by Trevane")) != 0; }));
        if (console) {
            EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(console)));
        }
        std::ofstream(release) << "go";
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        EXPECT_EQ(find_window_with_title("Quillgate by Trevane"), 0) << "the console went with the launcher";
    }
}

} // namespace quillgate::testing
