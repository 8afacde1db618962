// A portable kit laid out in a temporary folder, and the launcher run in it
// as the user would: current directory the kit, the stand-in editor as
// notepad\notepad++.exe.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "launcher/desktop.h"
#include "runtime/programs/programs.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace quillgate::testing {

namespace fs = std::filesystem;

// Polls for about ten seconds at most.
inline bool wait_until(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Processes show up in a snapshot a moment after they start.
inline bool process_appears(const std::string& image) {
    return wait_until([&] { return is_process_running(image.c_str()) != 0; });
}

class Kit {
public:
    explicit Kit(const std::string& label)
        : root_(fs::temp_directory_path() /
                ("quillgate-kit-" + label + "-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
        fs::create_directories(root_ / "work");
        fs::create_directories(root_ / "sleepers");
    }
    ~Kit() {
        for (program_object* program : started_) {
            kill_program(program);
            program_wait(program, 10000);
            program_close(program);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Kit(const Kit&) = delete;
    Kit& operator=(const Kit&) = delete;

    const fs::path& root() const { return root_; }
    fs::path editor() const { return root_ / "notepad" / "notepad++.exe"; }
    fs::path editor_log() const { return root_ / "notepad" / "notepad++.exe.log"; }
    fs::path state_file() const { return root_ / "notepad" / "state.txt"; }
    fs::path config() const { return root_ / "notepad" / "config.xml"; }
    std::map<std::string, std::string> last_editor_run() const { return editor_last_run(editor_log()); }

    void install_editor() {
        fs::create_directories(root_ / "notepad");
        fs::copy_file(standin_path("editor"), editor(), fs::copy_options::overwrite_existing);
    }

    // A stand-in sleeper running under the given image name until the kit goes.
    program_object* start_sleeper(const std::string& image) {
        fs::path path = root_ / "sleepers" / image;
        if (!fs::exists(path)) fs::copy_file(standin_path("sleeper"), path);
        return keep(reinterpret_cast<program_object*>(program_run(path.string().c_str(), "", "", RUN_KEEP_OBJECT)));
    }
    program_object* keep(program_object* program) {
        if (program) started_.push_back(program);
        return program;
    }

    // Detached from the test's console, as when started from the desktop.
    program_object* start_launcher() {
        return keep(reinterpret_cast<program_object*>(
            program_run(launcher_path().c_str(), "", root_.string().c_str(), RUN_KEEP_OBJECT | RUN_HIDDEN)));
    }
    // The editor then runs until release_editor(); null unless it started.
    program_object* start_launcher_holding_editor() {
        set_environment("QUILLGATE_EDITOR_WAIT_FILE", (root_ / "release").string().c_str());
        program_object* launcher = start_launcher();
        set_environment("QUILLGATE_EDITOR_WAIT_FILE", nullptr);
        bool started = launcher && wait_until([&] { return last_editor_run()["complete"] == "1"; });
        return started ? launcher : nullptr;
    }
    void release_editor() const { std::ofstream(root_ / "release") << "go"; }

    struct outcome {
        int exit_code;
        std::chrono::milliseconds took;
    };
    outcome run_launcher() {
        auto start = std::chrono::steady_clock::now();
        program_object* launcher = start_launcher();
        int code = launcher ? program_wait(launcher, 60000) : -2;
        return {code, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)};
    }

    // The launcher folder as state.txt holds it, checked against the kit's.
    std::string recorded_folder() const {
        std::string state = read_file(state_file());
        EXPECT_FALSE(state.empty());
        if (state.empty()) return state;
        EXPECT_EQ(state.back(), static_cast<char>(fs::path::preferred_separator));
        EXPECT_TRUE(fs::equivalent(state.substr(0, state.size() - 1), root_)) << state;
        return state;
    }

private:
    fs::path root_;
    std::vector<program_object*> started_;
};

// Scenarios that only one platform can play; run from the same test as the
// common ones, because the launcher's clean-up acts on every process and
// window of the fixed names and the scenarios must not overlap.
void platform_launch_scenarios();

} // namespace quillgate::testing
