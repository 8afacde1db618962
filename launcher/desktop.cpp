// The platform-free rules of the desktop operations: how an image path is
// cut down to its file name, how names and titles are compared, and which
// process of a name the clean-up may end.
#include <cstring>

#include "launcher/desktop.h"
#include "runtime/runtime.h"

namespace quillgate {

namespace {

// A lowered heap copy; the empty text when the copy cannot be had.
text lowered(const char* bytes) {
    text copy = text::copy(bytes, std::strlen(bytes));
    char* block = copy.release();
    std::size_t size = block ? std::strlen(block) : 0;
    if (block) lower_in_place(block);
    return text::adopt(block, size);
}

} // namespace

text image_file_part(const char* image_path) {
    if (!image_path) return {};
    const char* start = image_path;
    if (*start == '"') ++start;
    for (const char* p = start; *p; ++p) {
        if (*p == '\\' || *p == '/') start = p + 1;
    }
    const char* end = std::strchr(start, '"');
    std::size_t size = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    return text::copy(start, size);
}

bool image_name_matches(const char* image_path, const char* image_name) {
    if (!image_path || !image_name) return false;
    text file = image_file_part(image_path);
    char* block = file.release();
    if (!block) return false;
    lower_in_place(block);
    text file_lowered = text::adopt(block, std::strlen(block));
    text name_lowered = lowered(image_name);
    return file_lowered.view() == name_lowered.view();
}

bool title_contains(const char* title, const char* fragment) {
    if (!title || !fragment || !*title || !*fragment) return false;
    text title_lowered = lowered(title);
    text fragment_lowered = lowered(fragment);
    if (title_lowered.empty() || fragment_lowered.empty()) return false;
    return std::strstr(title_lowered.c_str(), fragment_lowered.c_str()) != nullptr;
}

bool created_in_session(process_time created, process_time session_start) {
    return created != 0 && session_start != 0 && created >= session_start;
}

int is_process_running(const char* image_name) {
    bool found = false;
    each_process_named(
        image_name,
        [](std::int64_t, void* context) {
            *static_cast<bool*>(context) = true;
            return false;
        },
        &found);
    return found ? 1 : 0;
}

int terminate_process_named(const char* image_name, process_time session_start) {
    // The oldest of the session's goes first, whatever the walk's order.
    struct oldest_in_session {
        process_time session_start;
        std::int64_t id = 0;
        process_time created = 0;
    } oldest{session_start};
    each_process_named(
        image_name,
        [](std::int64_t id, void* context) {
            auto* found = static_cast<oldest_in_session*>(context);
            process_time created = process_created(id);
            if (created_in_session(created, found->session_start) && (!found->created || created < found->created)) {
                found->id = id;
                found->created = created;
            }
            return true;
        },
        &oldest);
    return oldest.created ? terminate_process_created(oldest.id, oldest.created) : 0;
}

int console_control_handler(int event) {
    if (event == console_ctrl_close) runtime_end();
    return 0;
}

} // namespace quillgate
