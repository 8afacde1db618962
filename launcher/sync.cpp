#include "launcher/sync.h"

#include <cstring>
#include <string_view>

#include "runtime/core/text.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/platform/file_io.h"
#include "runtime/platform/path.h"
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

// A configuration that loaded nothing because it is not there or is empty,
// as opposed to one that exists but could not be read just now (held open by
// another program, memory short, a read error).
bool absent_or_empty(const char* config_path) {
    if (!os_path_exists(config_path)) return true;
    os_handle handle = os_file_open(config_path, OS_GENERIC_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING,
                                    OS_ATTRIBUTE_NORMAL);
    if (!handle) return false;
    bool empty = os_file_size(handle) == 0;
    os_file_close(handle);
    return empty;
}

// Points the panel root of the configuration at the work folder. True when
// the state file may record the folder: the configuration is one the
// launcher leaves alone for good (missing, empty, malformed, without the
// panel root), or the edited document is wholly in place. A configuration
// that could not be read or saved leaves the state file as it was, so that
// the next launch tries again.
bool update_configuration(const char* launcher_folder, const char* config_path) {
    if (!xml_load(config_document_slot, config_path, ENCODING_8BIT)) return absent_or_empty(config_path);
    const int status = xml_status(config_document_slot);
    if (status == XML_STATUS_OUT_OF_MEMORY || status == XML_STATUS_READ_ERROR) return false;
    if (status != 0) return true;
    // Characters the 8-bit tree could not hold would be lost for good by a
    // save; such a configuration is left alone, and not recorded as done.
    const xml_document* document = xml_document_get(config_document_slot);
    if (!document || document->replacements != 0) return false;
    xml_node* root = xml_node_from_path(xml_root_element(config_document_slot), panel_root_path);
    if (!root) return true;

    text folder = text::concat(launcher_folder, work_folder_name);
    // A configuration that is saved as UTF-8 gets the folder in UTF-8; the
    // launcher folder itself is in the ANSI code page.
    if (document->declare_utf8) folder = ansi_to_utf8(folder.c_str());
    if (folder.empty()) return false;

    xml_set_attribute(root, panel_root_attribute, folder.c_str());
    const char* stored = attribute_value(root, panel_root_attribute);
    if (!stored || folder != stored) return false;
    return xml_save(config_document_slot, config_path, 0) == 1;
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
        text recorded = file_read_line(state_file_slot, ENCODING_8BIT);
        if (recorded != std::string_view(launcher_folder) &&
            update_configuration(launcher_folder, config_path.c_str())) {
            file_seek(state_file_slot, 0);
            file_truncate(state_file_slot);
            file_write_text(state_file_slot, launcher_folder, ENCODING_8BIT);
        }
        file_close(state_file_slot);
    }

    runtime_work_end();
}

} // namespace quillgate
