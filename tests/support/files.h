// Whole files as bytes, and the stand-in editor's record of its runs.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

namespace quillgate::testing {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

// The last run the stand-in editor recorded in its log, as key=value pairs;
// "complete" is 1 when the record was finished.
inline std::map<std::string, std::string> editor_last_run(const std::filesystem::path& log) {
    std::ifstream in(log, std::ios::binary);
    std::map<std::string, std::string> run;
    for (std::string line; std::getline(in, line);) {
        if (line == "run") run.clear();
        if (auto equals = line.find('='); equals != std::string::npos)
            run[line.substr(0, equals)] = line.substr(equals + 1);
        if (line == "end") run["complete"] = "1";
    }
    return run;
}

} // namespace quillgate::testing
