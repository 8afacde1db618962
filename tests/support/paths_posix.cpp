#include <climits>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include "tests/support/paths.h"

namespace quillgate::testing {

std::string executable_folder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string full(path, static_cast<std::size_t>(length));
    return full.substr(0, full.find_last_of('/'));
}

const char* executable_suffix() { return ""; }

std::string standin_path(const std::string& name) { return executable_folder() + "/standin_" + name; }

std::string launcher_path() { return executable_folder() + "/../quillgate"; }

void set_environment(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

void kill_program(program_object* program) {
    if (program && program->process > 0) kill(static_cast<pid_t>(program->process), SIGKILL);
}

long open_handle_count() {
    long count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder)) ++count;
        closedir(folder);
    }
    return count;
}

} // namespace quillgate::testing
