// Plugin settings follow a moved kit: the plain text files that plugins keep
// in the editor's plugins\Config folder get the stored-path move of the
// editor's XML files, each in its own encoding.
#pragma once

namespace quillgate {

// Names of the folders under the editor folder that hold plugin settings.
inline constexpr const char* plugins_folder_name = "plugins";
inline constexpr const char* plugin_config_folder_name = "Config";

// Every path under `old_folder` stored in a text file of
// <editor folder>plugins<sep>Config<sep> moves to `new_folder` (all three
// folders in the ANSI code page, as the launcher holds them, ending with the
// separator). A file keeps its encoding (UTF-16 LE with its byte-order mark,
// UTF-8 with or without one, or the ANSI code page), its line ends and every
// other byte, and is replaced as a whole; one that does not read back byte
// for byte in its encoding is no text and is left alone. True when every
// file that needed a change has it on disk; false when one may still need
// it (it could not be read or saved just now, or memory ran short), so that
// the move stays unrecorded and the next launch tries again.
bool move_plugin_settings(const char* editor_folder, const char* old_folder, const char* new_folder);

} // namespace quillgate
