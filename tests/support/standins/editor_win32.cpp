// Stand-in editor, Windows build: records its raw command line, the show
// value it was given and whether it has a console.
#include <windows.h>

#include "editor_common.h"

int main(int argc, char** argv) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    return run_editor(argc, argv,
                      std::string("cmdline=") + GetCommandLineA() + "\nshow=" + std::to_string(show) +
                          "\nconsole=" + (GetConsoleWindow() ? "1" : "0") + "\n");
}
