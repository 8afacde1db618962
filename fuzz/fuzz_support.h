// What every fuzz target shares: the runtime started once, a private
// scratch folder, and a loud stop when an expectation fails (libFuzzer
// records the input that led there).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "runtime/runtime.h"

namespace quillgate::fuzz {

inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
    std::abort();
}

// The runtime heap and tables, made on the first input and kept.
inline void start_runtime() {
    static bool started = runtime_init();
    require(started, "runtime_init");
}

inline std::string& scratch_path() {
    static std::string path;
    return path;
}

inline void remove_scratch() {
    std::error_code ignored;
    if (!scratch_path().empty()) std::filesystem::remove_all(scratch_path(), ignored);
}

// A folder of this process's own for the files an input becomes.
inline const std::string& scratch_folder() {
    static std::string folder = [] {
        namespace fs = std::filesystem;
        std::random_device random;
        fs::path made;
        std::error_code error;
        do made = fs::temp_directory_path() / ("quillgate-fuzz-" + std::to_string(random()));
        while (!fs::create_directory(made, error) && !error);
        require(!error, "a scratch folder of its own");
        scratch_path() = made.string();
        std::atexit(remove_scratch);
        return scratch_path();
    }();
    return folder;
}

inline std::string scratch_file(const char* name) { return scratch_folder() + "/" + name; }

inline void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "fopen");
    if (size > 0) require(std::fwrite(data, 1, size, file) == size, "fwrite");
    require(std::fclose(file) == 0, "fclose");
}

} // namespace quillgate::fuzz
