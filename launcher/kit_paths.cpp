#include "launcher/kit_paths.h"

#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

// How many ways the text after a drive letter is cut into a candidate path
// (at spaces, semicolons and commas) before giving up on it.
constexpr int drive_candidate_limit = 16;

char fold(char c, bool ignore_case) { return ignore_case && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool starts_with(std::string_view piece, std::size_t at, std::string_view prefix, bool ignore_case) {
    if (piece.size() - at < prefix.size()) return false;
    if (!ignore_case) return piece.substr(at, prefix.size()) == prefix;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        if (fold(piece[at + k], ignore_case) != fold(prefix[k], ignore_case)) return false;
    }
    return true;
}

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A path starts at the start of the piece or after a byte that cannot be
// part of a name or a path (a quote, a space, "=", ";"): C:\x\kit\ holds no
// path to \kit\, and xE:\ is no drive.
bool path_may_start(std::string_view piece, std::size_t at) {
    if (at == 0) return true;
    auto c = static_cast<unsigned char>(piece[at - 1]);
    if (c >= 0x80 || (c >= '0' && c <= '9') || is_drive_letter(static_cast<char>(c))) return false;
    return c == 0 || std::strchr("\\/._-~", c) == nullptr;
}

// No Windows path holds these bytes; the marker of a held character
// stands for one a path may hold.
bool ends_any_path(unsigned char c) {
    return (c < 0x20 && c != static_cast<unsigned char>(xml_held_marker)) || std::strchr("\"<>|*?", c) != nullptr;
}

// Whether the path on the old drive at `at` moves to the new letter: the
// longest candidate that exists under the new letter decides, and it moves
// only when it does not exist under the old one. -1 when memory ran short.
int drive_path_moves(std::string_view piece, std::size_t at, const kit_move& move) {
    std::size_t ends[drive_candidate_limit];
    int count = 0;
    std::size_t end = at + 3;
    while (end < piece.size() && !ends_any_path(static_cast<unsigned char>(piece[end]))) {
        char c = piece[end];
        if ((c == ' ' || c == ';' || c == ',') && count < drive_candidate_limit - 1) ends[count++] = end;
        ++end;
    }
    ends[count++] = end;
    for (int k = count - 1; k >= 0; --k) {
        std::string_view old_path = piece.substr(at, ends[k] - at);
        text new_path = text::concat(move.new_folder.substr(0, 1), old_path.substr(1));
        if (new_path.empty()) return -1;
        int under_new = move.exists(move.exists_context, new_path.view());
        if (under_new != 0) {
            int under_old = under_new < 0 ? -1 : move.exists(move.exists_context, old_path);
            return under_old < 0 ? -1 : 1 - under_old;
        }
    }
    return 0;
}

} // namespace

bool only_drive_letter_differs(std::string_view old_folder, std::string_view new_folder, bool ignore_case) {
    if (old_folder.size() < 3 || old_folder.size() != new_folder.size()) return false;
    if (!is_drive_letter(old_folder[0]) || !is_drive_letter(new_folder[0])) return false;
    if (fold(old_folder[0], true) == fold(new_folder[0], true)) return false;
    if (old_folder[1] != ':' || (old_folder[2] != '\\' && old_folder[2] != '/')) return false;
    return starts_with(new_folder, 1, old_folder.substr(1), ignore_case);
}

long move_kit_paths(std::string_view piece, const kit_move& move, text* moved) {
    const std::string_view from = move.old_folder;
    const std::string_view to = move.new_folder;
    if (from.empty() || to.empty() || (move.exists && from.size() < 3)) return 0;
    // A new folder inside the old one holds the old folder itself: a path
    // that starts with it has moved already.
    const bool skip_new = starts_with(to, 0, from, move.ignore_case);
    char* out = nullptr;
    std::size_t written = 0;
    std::size_t copied = 0; // piece bytes up to here are in `out`
    long count = 0;
    // Every path that can change starts with the old folder's first byte
    // (its drive letter, in any case where case is ignored).
    const char first = from[0];
    const char other = move.ignore_case && is_drive_letter(first) ? static_cast<char>(first ^ 0x20) : first;
    // Byte for byte and without the drive rule, only the old folder itself.
    const bool whole = !move.ignore_case && !move.exists;
    for (std::size_t at = 0; at < piece.size();) {
        const void* hit = nullptr;
        if (whole) {
            at = piece.find(from, at);
            if (at != std::string_view::npos) hit = piece.data() + at;
        } else {
            hit = std::memchr(piece.data() + at, first, piece.size() - at);
            const void* hit_other = other == first ? nullptr : std::memchr(piece.data() + at, other, piece.size() - at);
            if (!hit || (hit_other && hit_other < hit)) hit = hit_other;
        }
        if (!hit) break;
        at = static_cast<std::size_t>(static_cast<const char*>(hit) - piece.data());
        if (!path_may_start(piece, at)) {
            ++at;
            continue;
        }
        if (skip_new && starts_with(piece, at, to, move.ignore_case)) {
            at += to.size();
            continue;
        }
        const bool kit_path = starts_with(piece, at, from, move.ignore_case);
        int drive_path = 0;
        if (!kit_path && move.exists && piece.size() - at > 3 && fold(piece[at], true) == fold(from[0], true) &&
            piece[at + 1] == ':' && piece[at + 2] == from[2]) {
            drive_path = drive_path_moves(piece, at, move);
        }
        if (drive_path < 0) {
            heap_free(out);
            return -1;
        }
        if (!kit_path && drive_path == 0) {
            ++at;
            continue;
        }
        if (!out) {
            // Each old folder gives way to the new one; a drive path only
            // changes its letter.
            std::size_t growth = to.size() > from.size() ? to.size() - from.size() : 0;
            out = static_cast<char*>(heap_alloc(piece.size() + (piece.size() / from.size() + 1) * growth + 1));
            if (!out) return -1;
        }
        std::memcpy(out + written, piece.data() + copied, at - copied);
        written += at - copied;
        const std::string_view replacement = kit_path ? to : to.substr(0, 1);
        std::memcpy(out + written, replacement.data(), replacement.size());
        written += replacement.size();
        at += kit_path ? from.size() : 1;
        copied = at;
        ++count;
    }
    if (!out) return 0;
    std::memcpy(out + written, piece.data() + copied, piece.size() - copied);
    written += piece.size() - copied;
    out[written] = '\0';
    *moved = text::adopt(out, written);
    return count;
}

} // namespace quillgate
