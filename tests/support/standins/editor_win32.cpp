// Stand-in editor, Windows build: records its raw command line, the show
// value it was given and whether it has a console.
#include <windows.h>

#include "editor_common.h"

namespace {

// File times count 100 ns ticks from 1601; the Unix clock starts in 1970.
constexpr std::int64_t ticks_1601_to_1970 = 116444736000000000;
constexpr std::int64_t nanoseconds_per_tick = 100;

std::int64_t wall_clock_now() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks = (std::int64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return (ticks - ticks_1601_to_1970) * nanoseconds_per_tick;
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t started = wall_clock_now();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    return run_editor(argc, argv,
                      started_fact(started) + "cmdline=" + GetCommandLineA() + "\nshow=" + std::to_string(show) +
                          "\nconsole=" + (GetConsoleWindow() ? "1" : "0") + "\n");
}
