// Whether a running program holds a file open.
#pragma once

#include <filesystem>

#include "runtime/programs/programs.h"

namespace quillgate::testing {

bool program_holds_open(const program_object* program, const std::filesystem::path& file);

} // namespace quillgate::testing
