#include "launcher/plugin_settings.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "launcher/desktop.h"
#include "launcher/kit_paths.h"
#include "runtime/core/heap.h"
#include "runtime/core/text.h"
#include "runtime/files/convert.h"
#include "runtime/platform/file_io.h"
#include "runtime/platform/folder.h"
#include "runtime/platform/path.h"
#include "runtime/files/whole_file.h"

namespace quillgate {

namespace {

// Settings files are a few kilobytes; a larger file is no plugin's settings
// and is left alone rather than read into memory.
constexpr std::int64_t settings_size_limit = std::int64_t{16} << 20;
// The name list grows by at least this much at a time.
constexpr std::size_t name_list_step = 256;

// What a step gave.
constexpr int try_later = -1; // memory ran short or a read failed
constexpr int left_alone = 0; // for good: gone, not text, or not to be held
constexpr int converted = 1;

constexpr std::string_view utf16_mark = "\xFF\xFE";
constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";

enum class text_form { utf16, utf8, ansi };

// How a file holds its text: the form, after this byte-order mark.
struct file_form {
    text_form form;
    std::string_view mark;
};

constexpr file_form ansi_form{text_form::ansi, {}};

const std::uint16_t* units_of(std::string_view wide) { return reinterpret_cast<const std::uint16_t*>(wide.data()); }

// Text in a form (the bytes after the mark, followed by a NUL) as UTF-8.
// Empty when memory ran short.
text to_utf8(text_form form, std::string_view bytes) {
    if (form == text_form::utf16) return utf16_to_utf8(units_of(bytes), bytes.size() / 2);
    text wide = form == text_form::utf8 ? utf8_to_utf16(bytes.data(), bytes.size()) : ansi_to_utf16(bytes.data());
    return wide.empty() ? text() : utf16_to_utf8(units_of(wide.view()), wide.size() / 2);
}

// UTF-8 text as a file holds it, mark first. Empty when memory ran short.
text from_utf8(const file_form& how, std::string_view utf8) {
    if (how.form == text_form::utf8) return text::concat(how.mark, utf8);
    text wide = utf8_to_utf16(utf8.data(), utf8.size());
    if (wide.empty()) return {};
    if (how.form == text_form::utf16) return text::concat(how.mark, wide.view());
    return utf16_to_ansi(units_of(wide.view()), wide.size() / 2);
}

// A file's text as UTF-8, and how the file holds it: as its byte-order mark
// says, else UTF-8 if the bytes are that, else the ANSI code page. A form
// counts only when the text turns back into the very same bytes, so that
// writing it back keeps every byte that no path move touched; text with a
// zero in it is no plugin's settings.
int decode(std::string_view bytes, file_form* how, text* utf8) {
    const file_form forms[] = {
        {text_form::utf16, utf16_mark}, {text_form::utf8, utf8_mark}, {text_form::utf8, {}}, ansi_form};
    for (const file_form& form : forms) {
        if (!bytes.starts_with(form.mark)) continue;
        const std::string_view body = bytes.substr(form.mark.size());
        // Nothing to move, or UTF-16 ending in half a unit.
        if (body.empty() || (form.form == text_form::utf16 && body.size() % 2 != 0)) return left_alone;
        text decoded = to_utf8(form.form, body);
        if (decoded.empty()) return try_later;
        if (decoded.view().find('\0') != std::string_view::npos) return left_alone;
        text back = from_utf8(form, decoded.view());
        if (back.empty()) return try_later;
        if (back == bytes) {
            *how = form;
            *utf8 = std::move(decoded);
            return converted;
        }
        // A marked file is in the form its mark names, or in none.
        if (!form.mark.empty()) return left_alone;
    }
    return left_alone;
}

// The whole file, followed by a NUL.
int read_whole(const char* path, text* bytes) {
    const os_handle handle =
        os_file_open(path, OS_GENERIC_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
    // Gone since the listing: nothing to do. Held by another program: later.
    if (!handle) return os_path_exists(path) ? try_later : left_alone;
    const std::int64_t size = os_file_size(handle);
    int result = size < 0 ? try_later : size > settings_size_limit ? left_alone : converted;
    char* block = result == converted ? static_cast<char*>(heap_alloc(static_cast<std::size_t>(size) + 1)) : nullptr;
    std::size_t got = 0;
    while (block && got < static_cast<std::size_t>(size)) {
        const std::uint32_t part = os_file_read(handle, block + got, static_cast<std::uint32_t>(size - got));
        if (part == 0) break;
        got += part;
    }
    os_file_close(handle);
    if (result != converted) return result;
    if (!block || got != static_cast<std::size_t>(size)) {
        heap_free(block);
        return try_later;
    }
    block[got] = '\0';
    *bytes = text::adopt(block, got);
    return converted;
}

// True unless the file may still need a change that is not on disk.
bool move_in_file(const char* path, const kit_move& move) {
    text bytes;
    const int read = read_whole(path, &bytes);
    if (read != converted) return read == left_alone;
    file_form how = ansi_form;
    text utf8;
    const int decoded = decode(bytes.view(), &how, &utf8);
    if (decoded != converted) return decoded == left_alone;
    text moved;
    const long count = move_kit_paths(utf8.view(), move, &moved);
    // A file with nothing to change keeps its bytes and its time.
    if (count <= 0) return count == 0;
    text encoded = from_utf8(how, moved.view());
    return !encoded.empty() && file_replace_contents(path, encoded.view());
}

// A folder as the launcher holds it, in UTF-8; left alone when the ANSI code
// page itself did not hold it without loss.
int folder_in_utf8(const char* ansi, text* utf8) {
    *utf8 = to_utf8(text_form::ansi, ansi);
    if (utf8->empty()) return try_later;
    text back = from_utf8(ansi_form, utf8->view());
    if (back.empty()) return try_later;
    return back == std::string_view(ansi) ? converted : left_alone;
}

// Whether a path (in UTF-8) names something on disk; a path the ANSI code
// page cannot name is not there for the launcher. -1 when memory ran short.
int exists_in_utf8(const void*, std::string_view path) {
    text ansi = from_utf8(ansi_form, path);
    text back = ansi.empty() ? text() : to_utf8(text_form::ansi, ansi.view());
    if (back.empty()) return -1;
    return back == path && os_path_exists(ansi.c_str()) ? 1 : 0;
}

// The names of a folder's files, each followed by a NUL. They are all taken
// before any file is replaced, so the listing never meets a temporary file.
struct name_list {
    char* names = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;
    bool memory_short = false;

    name_list() = default;
    name_list(const name_list&) = delete;
    name_list& operator=(const name_list&) = delete;
    ~name_list() { heap_free(names); }
};

void add_name(void* context, const char* name) {
    auto* list = static_cast<name_list*>(context);
    const std::size_t length = std::strlen(name) + 1;
    if (list->memory_short) return;
    if (list->capacity - list->size < length) {
        const std::size_t capacity = 2 * list->capacity + length + name_list_step;
        void* larger = heap_realloc(list->names, capacity);
        if (!larger) {
            list->memory_short = true;
            return;
        }
        list->names = static_cast<char*>(larger);
        list->capacity = capacity;
    }
    std::memcpy(list->names + list->size, name, length);
    list->size += length;
}

} // namespace

bool move_plugin_settings(const char* editor_folder, const char* old_folder, const char* new_folder) {
    if (!editor_folder || !old_folder || !new_folder || !*old_folder || !*new_folder) return true;
    const std::string_view separator(&path_separator, 1);
    text plugins = text::concat(editor_folder, plugins_folder_name, separator);
    text folder = plugins.empty() ? text() : text::concat(plugins.view(), plugin_config_folder_name, separator);
    if (folder.empty()) return false;
    name_list files;
    const int listed = os_list_files(folder.c_str(), add_name, &files);
    if (files.memory_short) return false;
    if (listed != OS_FOLDER_LISTED || files.size == 0) return listed != OS_FOLDER_UNREADABLE;

    text old_utf8;
    text new_utf8;
    int made = folder_in_utf8(old_folder, &old_utf8);
    if (made == converted) made = folder_in_utf8(new_folder, &new_utf8);
    if (made != converted) return made == left_alone;
    kit_move move;
    move.old_folder = old_utf8.view();
    move.new_folder = new_utf8.view();
    move.ignore_case = path_ignores_case;
    if (only_drive_letter_differs(move.old_folder, move.new_folder, move.ignore_case)) move.exists = exists_in_utf8;

    bool done = true;
    for (std::size_t at = 0; at < files.size; at += std::strlen(files.names + at) + 1) {
        text path = text::concat(folder.view(), files.names + at);
        done = !path.empty() && move_in_file(path.c_str(), move) && done;
    }
    return done;
}

} // namespace quillgate
