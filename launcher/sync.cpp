#include "launcher/sync.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "launcher/desktop.h"
#include "launcher/kit_paths.h"
#include "launcher/plugin_settings.h"
#include "runtime/core/heap.h"
#include "runtime/core/text.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/files/whole_file.h"
#include "runtime/frame.h"
#include "runtime/platform/file_io.h"
#include "runtime/platform/path.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/rewrite.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

// The value an element's attribute holds, or null.
const char* attribute_value(const xml_node* node, const char* name) {
    if (!node->attributes) return nullptr;
    for (int i = 0; i < node->attribute_count; ++i) {
        const char* pair_name = node->attributes[2 * i];
        if (pair_name && std::strcmp(pair_name, name) == 0) return node->attributes[2 * i + 1];
    }
    return nullptr;
}

// An editor file that loaded nothing because it is not there or is empty,
// as opposed to one that exists but could not be read just now (held open by
// another program, memory short, a read error).
bool absent_or_empty(const char* path) {
    if (!os_path_exists(path)) return true;
    os_handle handle =
        os_file_open(path, OS_GENERIC_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
    if (!handle) return false;
    bool empty = os_file_size(handle) == 0;
    os_file_close(handle);
    return empty;
}

// Whether an empty first line came from a state file that does hold a
// folder: the read failed (memory short), and nothing may be decided on it,
// or a move would be taken for a first run and the stored paths left behind.
bool folder_unread(const char* state_path) {
    os_handle handle = os_file_open(state_path, OS_GENERIC_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING,
                                    OS_ATTRIBUTE_NORMAL);
    if (!handle) return true;
    char first = '\n';
    bool unread =
        os_file_size(handle) != 0 && (os_file_read(handle, &first, 1) != 1 || std::strchr("\r\n", first) == nullptr);
    os_file_close(handle);
    return unread;
}

// What a conversion of a folder gave.
constexpr int memory_short = -1;
constexpr int cannot_hold = 0;
constexpr int converted = 1;

// A folder (in the ANSI code page, as the launcher holds it) in the form
// the document's tree holds text in: every character the document's
// encoding has as its bytes, every other as the reference it is saved as.
// A folder the code page itself did not hold without loss gives
// cannot_hold.
int folder_in_form(const char* ansi, const xml_document* document, text* out) {
    text wide = ansi_to_utf16(ansi);
    if (wide.empty()) return memory_short;
    const auto* units = reinterpret_cast<const std::uint16_t*>(wide.c_str());
    const std::size_t count = wide.size() / 2;
    text back = utf16_to_ansi(units, count);
    if (back.empty()) return memory_short;
    if (back != std::string_view(ansi)) return cannot_hold;
    auto* block = static_cast<char*>(heap_alloc(count * xml_held_max + 1));
    if (!block) return memory_short;
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = units[i];
        const bool pair =
            c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
        if (c >= 0xD800 && c <= 0xDFFF) {
            heap_free(block);
            return cannot_hold;
        }
        size += static_cast<std::size_t>(xml_hold_character(document, c, block + size));
    }
    block[size] = '\0';
    *out = text::adopt(block, size);
    return converted;
}

// Whether a path in a document's text form names something on disk; a path
// the ANSI code page cannot name is not there for the launcher.
int exists_in_form(const void* context, std::string_view path) {
    const auto* document = static_cast<const xml_document*>(context);
    text wide;
    if (!xml_held_to_utf16(document, path.data(), path.size(), &wide)) return 0;
    const auto* units = reinterpret_cast<const std::uint16_t*>(wide.c_str());
    text ansi = utf16_to_ansi(units, wide.size() / 2);
    text check = ansi.empty() ? text() : ansi_to_utf16(ansi.c_str());
    if (check.empty()) return memory_short;
    return check.view() == wide.view() && os_path_exists(ansi.c_str()) ? 1 : 0;
}

// The folder the state file records. One that is not UTF-8 was written
// before the launcher's code page became UTF-8, in the one the system had.
text recorded_folder() {
    text recorded = file_read_line(state_file_slot, ENCODING_8BIT);
    if (recorded.empty() || utf8_well_formed(recorded.view())) return recorded;
    text today = legacy_ansi_to_ansi(recorded.c_str(), recorded.size());
    return today.empty() ? std::move(recorded) : std::move(today);
}

long move_piece(void* context, const char* bytes, std::size_t size, text* replacement) {
    return move_kit_paths(std::string_view(bytes, size), *static_cast<const kit_move*>(context), replacement);
}

// A document loaded for one update, freed when the update is over unless it
// sits in a numbered slot (the configuration stays until shutdown).
struct loaded_document {
    object_id id = 0;
    bool dynamic = false;
    ~loaded_document() {
        if (dynamic && id) xml_free(id);
    }
};

// Brings one editor file in line with the launcher folder: the panel root
// when `panel_root` is set, and, when the kit moved from `old_folder`, every
// path stored under that folder. True when the state file may record the
// folder: the file is one the launcher leaves alone for good (missing, empty,
// malformed, unable to hold the new folder), or every change it needed is
// in place on disk. A file that could not be read or saved, or that lost
// characters while loading, leaves the state file as it was, so that the
// next launch tries again.
bool update_editor_file(object_id slot, const char* path, const char* launcher_folder, const char* old_folder,
                        bool panel_root) {
    loaded_document document;
    const std::intptr_t loaded = xml_load(slot, path, ENCODING_8BIT);
    if (!loaded) return absent_or_empty(path);
    document.dynamic = slot == -1;
    document.id = document.dynamic ? static_cast<object_id>(loaded) : slot;
    const int status = xml_status(document.id);
    if (status == XML_STATUS_OUT_OF_MEMORY || status == XML_STATUS_READ_ERROR) return false;
    if (status != 0) return true;
    xml_document* tree = xml_document_get(document.id);
    // A document that lost characters on loading would lose them for good
    // when saved: it is left alone, and the move is not recorded.
    if (!tree || tree->replacements != 0) return false;

    // The launcher folder is in the ANSI code page; the document gets it in
    // its own form.
    text new_folder;
    int made = folder_in_form(launcher_folder, tree, &new_folder);
    if (made != converted) return made == cannot_hold;

    bool changed = false;
    if (xml_node* root = panel_root ? xml_node_from_path(xml_root_element(document.id), panel_root_path) : nullptr) {
        text folder = text::concat(new_folder.view(), work_folder_name);
        if (folder.empty()) return false;
        xml_set_attribute(root, panel_root_attribute, folder.c_str());
        const char* stored = attribute_value(root, panel_root_attribute);
        if (!stored || folder != stored) return false;
        changed = true;
    }

    text old_in_form;
    made = old_folder ? folder_in_form(old_folder, tree, &old_in_form) : cannot_hold;
    if (made == memory_short) return false;
    if (made == converted) {
        kit_move move;
        move.old_folder = old_in_form.view();
        move.new_folder = new_folder.view();
        move.ignore_case = path_ignores_case;
        if (only_drive_letter_differs(move.old_folder, move.new_folder, move.ignore_case)) {
            move.exists = exists_in_form;
            move.exists_context = tree;
        }
        long moved = xml_rewrite_character_data(tree, move_piece, &move);
        if (moved < 0) return false;
        changed = changed || moved > 0;
    }
    // A file with nothing to change keeps its bytes and its time.
    return !changed || xml_save(document.id, path, 0) == 1;
}

} // namespace

void sync_workspace_folder(const char* launcher_folder, const char* editor_folder) {
    if (!launcher_folder || !editor_folder) return;
    // The console's close event may release files and documents on its own
    // thread; it waits until this is done, and after it nothing is touched.
    if (!runtime_work_begin()) return;

    text state_path = text::concat(editor_folder, state_file_name);
    text config_path = text::concat(editor_folder, config_file_name);
    if (!state_path.empty() && !config_path.empty() && file_open(state_file_slot, state_path.c_str())) {
        text recorded = recorded_folder();
        bool record = false;
        if (recorded != std::string_view(launcher_folder) && !(recorded.empty() && folder_unread(state_path.c_str()))) {
            // The kit moved from the folder recorded last time, when there
            // is one: the paths stored under it follow.
            const bool moved = !recorded.empty() && recorded.view().back() == path_separator;
            const char* old_folder = moved ? recorded.c_str() : nullptr;
            bool done =
                update_editor_file(config_document_slot, config_path.c_str(), launcher_folder, old_folder, true);
            for (const char* name : {session_file_name, shortcuts_file_name}) {
                if (!moved) break;
                text path = text::concat(editor_folder, name);
                done =
                    !path.empty() && update_editor_file(-1, path.c_str(), launcher_folder, old_folder, false) && done;
            }
            if (moved) done = move_plugin_settings(editor_folder, old_folder, launcher_folder) && done;
            record = done;
        }
        file_close(state_file_slot);
        // Beside the old record, then over it: a write that fails leaves the
        // old folder recorded, and the next launch moves the paths again.
        if (record) file_replace_contents(state_path.c_str(), launcher_folder);
    }

    runtime_work_end();
}

} // namespace quillgate
