#include "launcher/sync.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "launcher/desktop.h"
#include "launcher/kit_paths.h"
#include "launcher/plugin_settings.h"
#include "runtime/runtime.h"

namespace quillgate {

namespace {

// An editor file that loaded nothing because it is not there or is empty,
// as opposed to one that exists but could not be read just now (held open by
// another program, memory short, a read error).
bool absent_or_empty(const char* path) {
    file_facts facts;
    return file_facts_of(path, &facts) && facts.size == 0;
}

// A folder (in the ANSI code page, as the launcher holds it) in the form
// the document's tree holds text in: every character the document's
// encoding has as its bytes, every other as the reference it is saved as.
// False when memory ran short; `out` is empty when the code page itself did
// not hold the folder without loss.
bool folder_in_form(const char* ansi, const xml_document* document, text* out) {
    text wide = ansi_to_utf16(ansi);
    if (wide.empty()) return false;
    const auto* units = reinterpret_cast<const std::uint16_t*>(wide.c_str());
    const std::size_t count = wide.size() / 2;
    text back = utf16_to_ansi(units, count);
    if (back.empty()) return false;
    if (back != std::string_view(ansi)) {
        *out = text();
        return true;
    }
    auto* block = static_cast<char*>(heap_alloc(count * xml_held_max + 1));
    if (!block) return false;
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = units[i];
        const bool pair =
            c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
        if (c >= 0xD800 && c <= 0xDFFF) {
            heap_free(block);
            *out = text();
            return true;
        }
        size += static_cast<std::size_t>(xml_hold_character(document, c, block + size));
    }
    block[size] = '\0';
    *out = text::adopt(block, size);
    return true;
}

// Whether a path in a document's text form names something on disk; a path
// the ANSI code page cannot name is not there for the launcher. False when
// memory ran short.
bool exists_in_form(const void* context, std::string_view path, bool* there) {
    const auto* document = static_cast<const xml_document*>(context);
    text wide;
    if (!xml_held_to_utf16(document, path.data(), path.size(), &wide)) return false;
    if (wide.empty()) {
        *there = false; // no character the document's encoding knows
        return true;
    }
    const auto* units = reinterpret_cast<const std::uint16_t*>(wide.c_str());
    text ansi = utf16_to_ansi(units, wide.size() / 2);
    text check = ansi.empty() ? text() : ansi_to_utf16(ansi.c_str());
    if (check.empty()) return false;
    *there = check.view() == wide.view() && path_exists(ansi.c_str());
    return true;
}

// The folder the state file records; empty when it records none. One that
// is not UTF-8 was written before the launcher's code page became UTF-8, in
// the one the system had. False when the state file could not be read: then
// nothing may be decided on it, or a move would be taken for a first run
// and the stored paths left behind.
bool recorded_folder(text* folder) {
    text recorded;
    if (!file_read_line_checked(state_file_slot, ENCODING_8BIT, &recorded)) return false;
    text today;
    if (!recorded.empty() && !utf8_well_formed(recorded.view()))
        today = legacy_ansi_to_ansi(recorded.c_str(), recorded.size());
    *folder = today.empty() ? std::move(recorded) : std::move(today);
    return true;
}

bool move_piece(void* context, std::string_view piece, text* replacement, long* changes) {
    return move_kit_paths(piece, *static_cast<const kit_move*>(context), replacement, changes);
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
    document.dynamic = slot == new_object;
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
    if (!folder_in_form(launcher_folder, tree, &new_folder)) return false;
    if (new_folder.empty()) return true;

    bool changed = false;
    if (xml_node* root = panel_root ? xml_node_from_path(xml_root_element(document.id), panel_root_path) : nullptr) {
        text folder = text::concat(new_folder.view(), work_folder_name);
        if (folder.empty() || !xml_set_attribute_checked(root, panel_root_attribute, folder.c_str())) return false;
        changed = true;
    }

    text old_in_form;
    if (old_folder && !folder_in_form(old_folder, tree, &old_in_form)) return false;
    if (!old_in_form.empty()) {
        kit_move move;
        move.old_folder = old_in_form.view();
        move.new_folder = new_folder.view();
        move.ignore_case = path_ignores_case;
        if (only_drive_letter_differs(move.old_folder, move.new_folder, move.ignore_case)) {
            move.exists = exists_in_form;
            move.exists_context = tree;
        }
        long moved = 0;
        if (!xml_rewrite_character_data(tree, move_piece, &move, &moved)) return false;
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
        text recorded;
        bool record = false;
        if (recorded_folder(&recorded) && recorded != std::string_view(launcher_folder)) {
            // The kit moved from the folder recorded last time, when there
            // is one: the paths stored under it follow.
            const bool moved = !recorded.empty() && recorded.view().back() == path_separator;
            const char* old_folder = moved ? recorded.c_str() : nullptr;
            bool done =
                update_editor_file(config_document_slot, config_path.c_str(), launcher_folder, old_folder, true);
            for (const char* name : {session_file_name, shortcuts_file_name}) {
                if (!moved) break;
                text path = text::concat(editor_folder, name);
                done = !path.empty() &&
                       update_editor_file(new_object, path.c_str(), launcher_folder, old_folder, false) && done;
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
