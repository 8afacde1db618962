// The stand-in editor's behaviour, shared by its two platform builds.
//
// It records that it ran, appending to the file named by QUILLGATE_EDITOR_LOG
// or, without it, to its own path followed by ".log": a "run" line, its
// working folder, its arguments and facts about how it was started, then
// "end". Afterwards it waits for the file named by QUILLGATE_EDITOR_WAIT_FILE
// to appear (at most a minute) or sleeps QUILLGATE_EDITOR_SLEEP_MS.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace standin {

inline int run_editor(int argc, char** argv, const std::string& self_path, const std::string& facts) {
    const char* log_variable = std::getenv("QUILLGATE_EDITOR_LOG");
    std::string log_path = log_variable && *log_variable ? log_variable : self_path + ".log";
    {
        std::ofstream log(log_path, std::ios::app | std::ios::binary);
        std::error_code error;
        log << "run\n";
        log << "cwd=" << std::filesystem::current_path(error).string() << "\n";
        log << "argc=" << argc << "\n";
        for (int i = 0; i < argc; ++i) log << "arg" << i << "=" << argv[i] << "\n";
        log << facts;
        log << "end\n";
    }
    if (const char* wait_file = std::getenv("QUILLGATE_EDITOR_WAIT_FILE"); wait_file && *wait_file) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!std::filesystem::exists(wait_file) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (const char* sleep = std::getenv("QUILLGATE_EDITOR_SLEEP_MS"); sleep && *sleep) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(sleep)));
    }
    return 0;
}

} // namespace standin
