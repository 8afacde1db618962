// Where the test programs are: stand-ins and the launcher are built beside
// (or one folder above) the test binaries.
#pragma once

#include <string>

#include "runtime/programs/programs.h"

namespace quillgate::testing {

// ".exe" on Windows, "" elsewhere.
const char* executable_suffix();
// The stand-in program standin_<name> next to the test binary.
std::string standin_path(const std::string& name);
// The launcher, built at the top of the build folder.
std::string launcher_path();
// Sets (or with null, removes) a variable of this process's environment,
// which programs it starts inherit.
void set_environment(const char* name, const char* value);
// Ends a kept program at once (TerminateProcess / SIGKILL), for clean-up.
void kill_program(program_object* program);
// The number of handles (descriptors) this process holds open.
long open_handle_count();

} // namespace quillgate::testing
