// Keeps the editor's file-browser root pointed at the work folder beside the
// launcher, guarded by the state file that records the last launcher folder.
#pragma once

namespace quillgate {

// Fixed texts of the synchronisation.
inline constexpr const char* state_file_name = "state.txt";
inline constexpr const char* config_file_name = "config.xml";
inline constexpr const char* panel_root_path = "/NotepadPlus/FileBrowser/root";
inline constexpr const char* panel_root_attribute = "foldername";
inline constexpr const char* work_folder_name = "work";
// The other editor files whose stored paths follow a moved kit (config.xml
// is the first).
inline constexpr const char* session_file_name = "session.xml";
inline constexpr const char* shortcuts_file_name = "shortcuts.xml";

// File slot of the state file and document slot of the configuration.
inline constexpr int state_file_slot = 1;
inline constexpr int config_document_slot = 0;

// Both folders end in the path separator. When the state file names another
// folder, the panel root is pointed at the work folder, and every path stored
// under the recorded folder in config.xml, session.xml and shortcuts.xml
// follows to the launcher folder; the state file takes the launcher folder
// only once every file that needed a change has it. The configuration
// document stays loaded in its slot until shutdown.
void sync_workspace_folder(const char* launcher_folder, const char* editor_folder);

} // namespace quillgate
