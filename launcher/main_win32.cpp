// The entry point of the windowed program: no console at start. The command
// line is not read, except to tell the internal console host mode, in which
// the launcher starts its own program to make it a hidden console
// (console_open, launcher/desktop.h).
#include <windows.h>

#include <cstring>

#include "launcher/desktop.h"
#include "launcher/launch.h"
#include "runtime/runtime.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
    if (command_line && std::strcmp(command_line, quillgate::console_host_argument) == 0)
        return quillgate::console_host_main();
    quillgate::runtime_start(quillgate::launch_sequence);
}
