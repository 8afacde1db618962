#include "launcher/plugin_settings.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "launcher/desktop.h"
#include "launcher/kit_paths.h"
#include "runtime/runtime.h"

namespace quillgate {

namespace {

// Settings files are a few kilobytes; a larger file is no plugin's settings
// and is left alone rather than read into memory.
constexpr std::int64_t settings_size_limit = std::int64_t{16} << 20;

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

// Text in a form (the bytes after the mark, followed by a NUL, never empty)
// as UTF-8. False when memory ran short.
bool to_utf8(text_form form, std::string_view bytes, text* utf8) {
    text wide;
    if (form != text_form::utf16) {
        wide = form == text_form::utf8 ? utf8_to_utf16(bytes.data(), bytes.size()) : ansi_to_utf16(bytes.data());
        if (wide.empty()) return false;
        bytes = wide.view();
    }
    text converted = utf16_to_utf8(units_of(bytes), bytes.size() / 2);
    if (converted.empty()) return false;
    *utf8 = std::move(converted);
    return true;
}

// UTF-8 text (never empty) as a file holds it, mark first. False when
// memory ran short.
bool from_utf8(const file_form& how, std::string_view utf8, text* bytes) {
    text converted;
    if (how.form == text_form::utf8) {
        converted = text::concat(how.mark, utf8);
    } else if (text wide = utf8_to_utf16(utf8.data(), utf8.size()); !wide.empty()) {
        converted = how.form == text_form::utf16 ? text::concat(how.mark, wide.view())
                                                 : utf16_to_ansi(units_of(wide.view()), wide.size() / 2);
    }
    if (converted.empty()) return false;
    *bytes = std::move(converted);
    return true;
}

// A file's text as UTF-8, and how the file holds it: as its byte-order mark
// says, else UTF-8 if the bytes are that, else the ANSI code page. A form
// counts only when the text turns back into the very same bytes, so that
// writing it back keeps every byte that no path move touched; text with a
// zero in it is no plugin's settings. False when memory ran short; `utf8`
// is empty when the file is left alone for good.
bool decode(std::string_view bytes, file_form* how, text* utf8) {
    const file_form forms[] = {
        {text_form::utf16, utf16_mark}, {text_form::utf8, utf8_mark}, {text_form::utf8, {}}, ansi_form};
    *utf8 = text();
    for (const file_form& form : forms) {
        if (!bytes.starts_with(form.mark)) continue;
        const std::string_view body = bytes.substr(form.mark.size());
        // Nothing to move, or UTF-16 ending in half a unit.
        if (body.empty() || (form.form == text_form::utf16 && body.size() % 2 != 0)) return true;
        text decoded;
        text back;
        if (!to_utf8(form.form, body, &decoded)) return false;
        if (decoded.view().find('\0') != std::string_view::npos) return true;
        if (!from_utf8(form, decoded.view(), &back)) return false;
        if (back == bytes) {
            *how = form;
            *utf8 = std::move(decoded);
            return true;
        }
        // A marked file is in the form its mark names, or in none.
        if (!form.mark.empty()) return true;
    }
    return true;
}

// True unless the file may still need a change that is not on disk.
bool move_in_file(const char* path, const kit_move& move) {
    text bytes;
    // Gone since the listing, or too large: nothing to do. Held by another
    // program: later.
    if (!file_read_whole(path, settings_size_limit, &bytes)) return false;
    file_form how = ansi_form;
    text utf8;
    if (!decode(bytes.view(), &how, &utf8)) return false;
    if (utf8.empty()) return true;
    text moved;
    long count = 0;
    if (!move_kit_paths(utf8.view(), move, &moved, &count)) return false;
    // A file with nothing to change keeps its bytes and its time.
    if (count == 0) return true;
    text encoded;
    return from_utf8(how, moved.view(), &encoded) && file_replace_contents(path, encoded.view());
}

// A folder as the launcher holds it, in UTF-8. False when memory ran short;
// `utf8` is empty when the ANSI code page itself did not hold it without
// loss.
bool folder_in_utf8(const char* ansi, text* utf8) {
    text converted;
    text back;
    if (!to_utf8(text_form::ansi, ansi, &converted) || !from_utf8(ansi_form, converted.view(), &back)) return false;
    *utf8 = back == std::string_view(ansi) ? std::move(converted) : text();
    return true;
}

// Whether a path (in UTF-8) names something on disk; a path the ANSI code
// page cannot name is not there for the launcher. False when memory ran
// short.
bool exists_in_utf8(const void*, std::string_view path, bool* there) {
    text ansi;
    text back;
    if (!from_utf8(ansi_form, path, &ansi) || !to_utf8(text_form::ansi, ansi.view(), &back)) return false;
    *there = back == path && path_exists(ansi.c_str());
    return true;
}

} // namespace

bool move_plugin_settings(const char* editor_folder, const char* old_folder, const char* new_folder) {
    if (!editor_folder || !old_folder || !new_folder || !*old_folder || !*new_folder) return true;
    const std::string_view separator(&path_separator, 1);
    text plugins = text::concat(editor_folder, plugins_folder_name, separator);
    text folder = plugins.empty() ? text() : text::concat(plugins.view(), plugin_config_folder_name, separator);
    if (folder.empty()) return false;
    text files;
    if (!folder_file_names(folder.c_str(), &files)) return false;
    if (files.empty()) return true;

    text old_utf8;
    text new_utf8;
    if (!folder_in_utf8(old_folder, &old_utf8)) return false;
    if (old_utf8.empty()) return true;
    if (!folder_in_utf8(new_folder, &new_utf8)) return false;
    if (new_utf8.empty()) return true;
    kit_move move;
    move.old_folder = old_utf8.view();
    move.new_folder = new_utf8.view();
    move.ignore_case = path_ignores_case;
    if (only_drive_letter_differs(move.old_folder, move.new_folder, move.ignore_case)) move.exists = exists_in_utf8;

    bool done = true;
    for (std::size_t at = 0; at < files.size(); at += std::strlen(files.c_str() + at) + 1) {
        text path = text::concat(folder.view(), files.c_str() + at);
        done = !path.empty() && move_in_file(path.c_str(), move) && done;
    }
    return done;
}

} // namespace quillgate
