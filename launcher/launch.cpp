#include "launcher/launch.h"

#include "launcher/desktop.h"
#include "launcher/kit_lock.h"
#include "launcher/sync.h"
#include "runtime/runtime.h"

namespace quillgate {

namespace {

// The "cmd" windows asked to close so far, and how often; each poll adds at
// most one window.
struct window_closes {
    process_time session_start;
    window_handle windows[cleanup_poll_limit];
    int closes[cleanup_poll_limit];
    int count;
};

int* closes_of(window_closes* asked, window_handle window) {
    for (int i = 0; i < asked->count; ++i)
        if (asked->windows[i] == window) return &asked->closes[i];
    return nullptr;
}

// A window of the session's that has not yet had all its close messages.
bool may_close(window_handle window, void* context) {
    auto* asked = static_cast<window_closes*>(context);
    const int* closes = closes_of(asked, window);
    if (closes && *closes >= cleanup_closes_per_window) return false;
    return created_in_session(process_created(window_process(window)), asked->session_start);
}

void close_session_windows(process_time session_start) {
    window_closes asked{session_start, {}, {}, 0};
    for (int poll = 0; poll < cleanup_poll_limit; ++poll) {
        window_handle window = find_window_with_title(cleanup_title_fragment, may_close, &asked);
        if (!window) break;
        window_post_close(window);
        if (int* closes = closes_of(&asked, window)) {
            ++*closes;
        } else {
            asked.windows[asked.count] = window;
            asked.closes[asked.count++] = 1;
        }
        delay_ms(cleanup_poll_ms);
    }
}

// Brings the workspace in step, starts the editor and waits for it. The
// result is the session's start: the editor's creation time or, when no
// editor was started, the launcher's own.
process_time run_editor_session(const launch_folders& folders) {
    process_time started = 0;
    // Without a folder of its own the launcher neither touches the
    // workspace nor starts an editor from a relative path; it still cleans
    // up.
    if (!folders.launcher_folder.empty()) {
        sync_workspace_folder(folders.launcher_folder.c_str(), folders.editor_folder.c_str());
        program_run(folders.editor_path.c_str(), "", "", RUN_WAIT_EXIT, nullptr, &started);
    }
    return started ? started : process_created(this_process_id());
}

// What the session started and left behind: its "cmd" windows, then one
// php.exe and one ConEmu.exe of its own.
void clean_up_session(process_time session_start) {
    delay_ms(cleanup_delay_ms);
    close_session_windows(session_start);
    terminate_process_named(first_cleanup_process, session_start);
    terminate_process_named(second_cleanup_process, session_start);
}

} // namespace

launch_folders compute_launch_folders(const char* current_directory, char separator) {
    launch_folders folders;
    if (!current_directory || !*current_directory) return folders;
    std::string_view current(current_directory);
    std::string_view separator_text(&separator, 1);
    folders.launcher_folder = text::concat(current, current.back() == separator ? std::string_view{} : separator_text);
    folders.editor_folder = text::concat(folders.launcher_folder.view(), editor_subfolder_name, separator_text);
    folders.editor_path = text::concat(folders.editor_folder.view(), editor_image_name);
    if (folders.launcher_folder.empty() || folders.editor_folder.empty() || folders.editor_path.empty()) {
        return launch_folders{};
    }
    return folders;
}

void launch_sequence() {
    console_open(nullptr);
    console_set_title(console_title);
    console_hide();

    {
        text current = current_directory();
        launch_folders folders = compute_launch_folders(current.c_str(), path_separator);
        // The lock stays held until the process ends: a second launcher in
        // the kit then leaves everything to this one, as it would an editor
        // already running.
        if (kit_lock_take(folders.launcher_folder.c_str()) && is_process_running(editor_image_name) != 1) {
            clean_up_session(run_editor_session(folders));
        }
    }

    console_close();
}

} // namespace quillgate
