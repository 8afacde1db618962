#include "launcher/launch.h"

#include <cstring>

#include "launcher/desktop.h"
#include "launcher/sync.h"
#include "runtime/core/heap.h"
#include "runtime/programs/programs.h"

namespace quillgate {

namespace {

constexpr int show_hidden = 0;

// The concatenation of up to three pieces; the empty text on failure.
text joined(std::string_view first, std::string_view second, std::string_view third = {}) {
    std::size_t size = first.size() + second.size() + third.size();
    auto* block = static_cast<char*>(heap_alloc(size + 1));
    if (!block) return {};
    char* end = block;
    for (std::string_view piece : {first, second, third}) {
        if (!piece.empty()) std::memcpy(end, piece.data(), piece.size());
        end += piece.size();
    }
    *end = '\0';
    return text::adopt(block, size);
}

} // namespace

launch_folders compute_launch_folders(const char* current_directory, char separator) {
    launch_folders folders;
    if (!current_directory || !*current_directory) return folders;
    std::string_view current(current_directory);
    std::string_view separator_text(&separator, 1);
    folders.launcher_folder = joined(current, current.back() == separator ? std::string_view{} : separator_text);
    folders.editor_folder = joined(folders.launcher_folder.view(), editor_subfolder_name, separator_text);
    folders.editor_path = joined(folders.editor_folder.view(), editor_image_name);
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
