#include <cstdlib>
#include <filesystem>
#include <string>

#include <signal.h>

#include "tests/support/paths.h"

namespace quillgate::testing {

namespace fs = std::filesystem;

static std::string executable_folder() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

const char* executable_suffix() { return ""; }
std::string standin_path(const std::string& name) { return executable_folder() + "/standin_" + name; }
std::string launcher_path() { return executable_folder() + "/../quillgate"; }

void set_environment(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }

void kill_program(program_object* program) {
    if (program && program->process > 0) kill(static_cast<pid_t>(program->process), SIGKILL);
}

// The listing holds one descriptor of its own, in every count alike.
long open_handle_count() { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); }

} // namespace quillgate::testing
