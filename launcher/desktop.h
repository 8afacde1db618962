// Operations on the desktop that the launch sequence needs: finding
// top-level windows by title, looking for and terminating processes by image
// name, the launcher's own console, and the clean-up delay.
//
// On POSIX there are no Win32 windows: the window search finds none and the
// window calls do nothing. Processes come from /proc in ascending pid order,
// each named by the file part of its first argument (so programs running
// under Wine are seen by their Windows names); termination is SIGKILL. The
// console is the controlling terminal, and SIGHUP, taken on a thread of its
// own, plays the console's close event.
//
// The clean-up acts on what an editing session started, and nothing older:
// a process belongs to the session when it was created at or after the
// session's start, both read from the system's clock of process creation
// (process_created). That clock counts in ticks of 10 ms on POSIX, so
// there a process created in the very tick of the session's start counts
// as the session's.
#pragma once

#include <cstdint>

#include "runtime/runtime.h"

namespace quillgate {

// A top-level window; 0 means none.
using window_handle = std::intptr_t;

// Console control events as Windows numbers them.
constexpr int console_ctrl_c = 0;
constexpr int console_ctrl_break = 1;
constexpr int console_ctrl_close = 2;
constexpr int console_ctrl_logoff = 5;
constexpr int console_ctrl_shutdown = 6;

// The platform's path separator: '\' on Windows, '/' on POSIX.
extern const char path_separator;
// Whether the platform's paths match ASCII letters in any case (Windows) or
// byte for byte (POSIX).
extern const bool path_ignores_case;

// A further test of a window whose title matched; true takes it.
using window_test = bool (*)(window_handle window, void* context);
// The first top-level window, in Z order, whose title contains `fragment`
// in any letter case and which `accept`, when given, takes; 0 if none.
// Empty titles and fragments never match.
window_handle find_window_with_title(const char* fragment, window_test accept = nullptr, void* context = nullptr);
// The id of the process that owns a window (GetWindowThreadProcessId); 0
// when there is none.
std::int64_t window_process(window_handle window);

// Called with the id of each process whose image file name equals
// `image_name` in any letter case, in the platform's order, until it
// returns false.
using process_visit = bool (*)(std::int64_t process_id, void* context);
void each_process_named(const char* image_name, process_visit visit, void* context);
// 1 when a process whose image file name equals `image_name` in any letter
// case exists, else 0.
int is_process_running(const char* image_name);
// Terminates (exit code 9) the oldest process with that image name that the
// session starting at `session_start` created; 1 when it was terminated, 0
// when there is none or it cannot be opened (no other one is tried then).
int terminate_process_named(const char* image_name, process_time session_start);
// Terminates the process with that id (exit code 9), provided it is still
// the one created at `created` and not a later one that took over its id;
// 1 when it was terminated.
int terminate_process_created(std::int64_t process_id, process_time created);

// Allocates a console (a console already there is kept), installs the
// control handler and sets the title when one is given. Always 1.
//
// On Windows the console is born hidden: a launcher started hidden
// allocates it, since a console takes its first show state from the
// start-up information of the process it is made for; one started
// otherwise, as from the desktop, attaches to a console that a hidden copy
// of itself made (console_host_main) and ends the copy, and allocates its
// own only when that fails.
//
// None of the console calls waits on the console's host, which under Wine
// answers only some tenths of a second after the console is allocated: on
// Windows the title and the hide are carried out, in the order asked, on a
// thread of the console's own, and console_close lets what is queued run
// before it releases the console.
int console_open(const char* title);
void console_set_title(const char* title);
// Hides the console's window (ShowWindowAsync with SW_HIDE).
void console_hide();
void console_close();
#ifdef _WIN32
// The internal console host mode (Windows). console_open in a launcher not
// started hidden starts the launcher's own program again with this as its
// whole command line, hidden; the copy allocates a console, which is then
// born hidden, and waits idle until the launcher has attached to it and
// ended the copy (a minute at most). The launch sequence never runs in it.
extern const char console_host_argument[];
// The copy's whole work; the exit code, 0.
int console_host_main();
#endif
// On the close event the release step of the shutdown runs; every event is
// then passed on (the result is always 0), so the system ends the process.
int console_control_handler(int event);

// The first call asks for a 1 ms timer resolution, once per process.
void delay_ms(std::uint32_t milliseconds);
// How many times delay_ms asked for the timer resolution (0 or 1).
int delay_resolution_requests();

// PostMessageA(window, WM_CLOSE, 0, 0): posted, not waited for.
void window_post_close(window_handle window);
// The current directory, however long; the empty text when it cannot be had.
text current_directory();

// Shared rules, exposed for tests.

// The file part of a process's image path: a leading double quote skipped,
// everything after the last '\' or '/', up to the next double quote.
text image_file_part(const char* image_path);
// Lower-cases in place with the system's ANSI mapping (CharLowerA; POSIX:
// ASCII).
void lower_in_place(char* bytes);
// Whole-name comparison of an image path's file part in any letter case.
bool image_name_matches(const char* image_path, const char* image_name);
// Substring search in any letter case; false for an empty title or fragment.
bool title_contains(const char* title, const char* fragment);
// Whether a process created at `created` belongs to the session that
// started at `session_start`; never when either time is unknown (0).
bool created_in_session(process_time created, process_time session_start);

} // namespace quillgate
