// The stand-in editor's behaviour, shared by its two platform builds: it
// appends its run to the file named by QUILLGATE_EDITOR_LOG (a "run" line,
// its working folder, its arguments, the moment it started and other facts
// about how it was started, then "end"), then waits, a minute at most, for
// the file named by QUILLGATE_EDITOR_WAIT_FILE to appear.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

// The moment the stand-in started, taken first thing in main, in
// nanoseconds since 1970 on the wall clock, so that a launch benchmark can
// hold it against the moment it started the launcher.
inline std::string started_fact(std::int64_t nanoseconds) { return "started=" + std::to_string(nanoseconds) + "\n"; }

inline int run_editor(int argc, char** argv, const std::string& facts) {
    namespace fs = std::filesystem;
    if (const char* log_path = std::getenv("QUILLGATE_EDITOR_LOG")) {
        std::ofstream log(log_path, std::ios::app | std::ios::binary);
        std::error_code error;
        log << "run\ncwd=" << fs::current_path(error).string() << "\nargc=" << argc << "\n";
        for (int i = 0; i < argc; ++i) log << "arg" << i << "=" << argv[i] << "\n";
        log << facts << "end\n";
    }
    const char* wait_file = std::getenv("QUILLGATE_EDITOR_WAIT_FILE");
    for (int i = 0; wait_file && *wait_file && i < 3000 && !fs::exists(wait_file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
