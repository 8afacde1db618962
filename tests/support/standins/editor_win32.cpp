// Stand-in editor, Windows build: records its raw command line, the show
// value it was given and whether it has a console.
#include <windows.h>

#include <string>

#include "editor_common.h"

int main(int argc, char** argv) {
    char self[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string self_path = length > 0 ? std::string(self, length) : argv[0];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    std::string facts = std::string("cmdline=") + GetCommandLineA() + "\nshow=" + std::to_string(show) +
                        "\nconsole=" + (GetConsoleWindow() ? "1" : "0") + "\n";
    return standin::run_editor(argc, argv, self_path, facts);
}
