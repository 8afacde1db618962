#include <string>
#include <system_error>

#include "tests/launcher/open_files.h"

namespace quillgate::testing {

// The program's descriptors are links under /proc/<pid>/fd.
bool program_holds_open(const program_object* program, const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path wanted = fs::weakly_canonical(file, error);
    const fs::path descriptors = "/proc/" + std::to_string(program->process) + "/fd";
    for (const auto& entry : fs::directory_iterator(descriptors, error)) {
        std::error_code unreadable;
        if (fs::read_symlink(entry.path(), unreadable) == wanted) return true;
    }
    return false;
}

} // namespace quillgate::testing
