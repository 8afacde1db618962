#include "launcher/launch.h"

#include "launcher/desktop.h"
#include "launcher/sync.h"
#include "runtime/core/text.h"
#include "runtime/programs/programs.h"

namespace quillgate {

namespace {

constexpr int show_hidden = 0;

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
    window_show(console_window(), show_hidden);

    if (is_process_running(editor_image_name) != 1) {
        {
            text current = current_directory();
            launch_folders folders = compute_launch_folders(current.c_str(), path_separator);
            // Without a folder of its own the launcher neither touches the
            // workspace nor starts an editor from a relative path; it still
            // cleans up.
            if (!folders.launcher_folder.empty()) {
                sync_workspace_folder(folders.launcher_folder.c_str(), folders.editor_folder.c_str());
                program_run(folders.editor_path.c_str(), "", "", RUN_WAIT_EXIT);
            }
        }

        delay_ms(cleanup_delay_ms);
        for (int poll = 0; poll < cleanup_poll_limit; ++poll) {
            window_handle window = find_window_with_title(cleanup_title_fragment);
            if (!window) break;
            window_post_close(window);
            delay_ms(cleanup_poll_ms);
        }
        terminate_process_named(first_cleanup_process);
        terminate_process_named(second_cleanup_process);
    }

    console_close();
}

} // namespace quillgate
