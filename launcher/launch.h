// The launch sequence: refuse a second launch in the kit and a second
// editor, keep the workspace folder in step, start the editor and wait for
// it, then clean up what the editing session started.
#pragma once

#include "runtime/runtime.h"

namespace quillgate {

// Fixed texts of the sequence.
inline constexpr const char* console_title = "Quillgate by Trevane";
inline constexpr const char* editor_image_name = "notepad++.exe";
// The editor's sub-folder; the path separator follows it.
inline constexpr const char* editor_subfolder_name = "notepad";
inline constexpr const char* cleanup_title_fragment = "cmd";
inline constexpr const char* first_cleanup_process = "php.exe";
inline constexpr const char* second_cleanup_process = "ConEmu.exe";

// Timings of the clean-up, in milliseconds, and the bounds on its window
// loop: a "cmd" window that ignores its close message is asked a few times
// and then left alone, and however many of them there are, the loop gives up
// after about two seconds, so the launcher never hangs on a window.
inline constexpr unsigned cleanup_delay_ms = 1000;
inline constexpr unsigned cleanup_poll_ms = 100;
inline constexpr int cleanup_poll_limit = 20;
inline constexpr int cleanup_closes_per_window = 3;

struct launch_folders {
    text launcher_folder; // ends in the separator
    text editor_folder;   // launcher folder, "notepad", separator
    text editor_path;     // editor folder, "notepad++.exe"
};

// The folders for a current directory. All three are empty when the
// directory is empty (it could not be had) or a text cannot be allocated:
// an empty launcher folder would make the editor's path relative.
launch_folders compute_launch_folders(const char* current_directory, char separator);

// The main sequence run between the runtime's start-up and shutdown.
void launch_sequence();

} // namespace quillgate
