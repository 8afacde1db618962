// What the launcher scenarios ask of POSIX alone.
#include <gtest/gtest.h>

#include "tests/launcher/kit.h"

namespace quillgate::testing {

// The program's descriptors are links under /proc/<pid>/fd.
bool program_holds_open(const program_object* program, const fs::path& file) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(program->process) + "/fd", error))
        if (fs::read_symlink(entry.path(), error) == fs::weakly_canonical(file)) return true;
    return false;
}

} // namespace quillgate::testing
