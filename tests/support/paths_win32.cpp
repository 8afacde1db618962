#include <windows.h>

#include <string>

#include "tests/support/paths.h"

namespace quillgate::testing {

static std::string executable_folder() {
    char path[4096];
    std::string full(path, GetModuleFileNameA(nullptr, path, sizeof path));
    return full.substr(0, full.find_last_of("\\/"));
}

const char* executable_suffix() { return ".exe"; }
std::string standin_path(const std::string& name) { return executable_folder() + "\\standin_" + name + ".exe"; }
std::string launcher_path() { return executable_folder() + "\\..\\quillgate.exe"; }

// Through the Win32 environment block, which CreateProcessA hands on.
void set_environment(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

void kill_program(program_object* program) {
    if (program && program->process) TerminateProcess(reinterpret_cast<HANDLE>(program->process), 1);
}

long open_handle_count() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return static_cast<long>(count);
}

} // namespace quillgate::testing
