#include "launcher/kit_paths.h"

#include <cstring>

#include "runtime/runtime.h"

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
// only when it does not exist under the old one. False when memory ran
// short.
bool drive_path_moves(std::string_view piece, std::size_t at, const kit_move& move, bool* moves) {
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
        if (new_path.empty()) return false;
        bool under_new = false;
        if (!move.exists(move.exists_context, new_path.view(), &under_new)) return false;
        if (under_new) {
            bool under_old = false;
            if (!move.exists(move.exists_context, old_path, &under_old)) return false;
            *moves = !under_old;
            return true;
        }
    }
    *moves = false;
    return true;
}

// Where, from `at` on, the next byte lies that may begin a path to move, or
// npos. Every path that can change starts with the old folder's first byte
// (its drive letter, in any case where case is ignored); byte for byte and
// without the drive rule, only the old folder itself.
std::size_t next_candidate(std::string_view piece, std::size_t at, const kit_move& move) {
    const std::string_view from = move.old_folder;
    if (!move.ignore_case && !move.exists) return piece.find(from, at);
    const char first = from[0];
    const char other = move.ignore_case && is_drive_letter(first) ? static_cast<char>(first ^ 0x20) : first;
    const void* hit = std::memchr(piece.data() + at, first, piece.size() - at);
    const void* hit_other = other == first ? nullptr : std::memchr(piece.data() + at, other, piece.size() - at);
    if (!hit || (hit_other && hit_other < hit)) hit = hit_other;
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - piece.data()) : std::string_view::npos;
}

enum class path_kind { none, kit_path, drive_path };

// What starts at `at`: a path under the old folder, a path elsewhere on the
// old drive that moves to the new letter, or neither. False when memory ran
// short.
bool path_at(std::string_view piece, std::size_t at, const kit_move& move, path_kind* kind) {
    const std::string_view from = move.old_folder;
    *kind = path_kind::none;
    if (starts_with(piece, at, from, move.ignore_case)) {
        *kind = path_kind::kit_path;
        return true;
    }
    if (!move.exists || piece.size() - at <= 3 || fold(piece[at], true) != fold(from[0], true) ||
        piece[at + 1] != ':' || piece[at + 2] != from[2]) {
        return true;
    }
    bool moves = false;
    if (!drive_path_moves(piece, at, move, &moves)) return false;
    if (moves) *kind = path_kind::drive_path;
    return true;
}

// The moved piece as it is built: the piece's bytes before `copied` are in
// `out`, with every replacement made so far.
class moved_piece {
public:
    moved_piece(std::string_view piece, const kit_move& move) : piece_(piece), move_(move) {}
    moved_piece(const moved_piece&) = delete;
    moved_piece& operator=(const moved_piece&) = delete;
    ~moved_piece() { heap_free(out_); }

    // The `length` bytes at `at` give way to `replacement`; false when
    // memory ran short.
    bool replace(std::size_t at, std::size_t length, std::string_view replacement) {
        if (!out_) {
            // Each old folder gives way to the new one; a drive path only
            // changes its letter.
            const std::size_t from = move_.old_folder.size();
            const std::size_t to = move_.new_folder.size();
            const std::size_t growth = to > from ? to - from : 0;
            out_ = static_cast<char*>(heap_alloc(piece_.size() + (piece_.size() / from + 1) * growth + 1));
            if (!out_) return false;
        }
        copy_up_to(at);
        std::memcpy(out_ + written_, replacement.data(), replacement.size());
        written_ += replacement.size();
        copied_ = at + length;
        return true;
    }

    // The rest of the piece after the last replacement; the whole as text.
    text finish() {
        copy_up_to(piece_.size());
        out_[written_] = '\0';
        char* block = out_;
        out_ = nullptr;
        return text::adopt(block, written_);
    }

private:
    void copy_up_to(std::size_t at) {
        std::memcpy(out_ + written_, piece_.data() + copied_, at - copied_);
        written_ += at - copied_;
        copied_ = at;
    }

    std::string_view piece_;
    const kit_move& move_;
    char* out_ = nullptr;
    std::size_t written_ = 0;
    std::size_t copied_ = 0;
};

} // namespace

bool only_drive_letter_differs(std::string_view old_folder, std::string_view new_folder, bool ignore_case) {
    if (old_folder.size() < 3 || old_folder.size() != new_folder.size()) return false;
    if (!is_drive_letter(old_folder[0]) || !is_drive_letter(new_folder[0])) return false;
    if (fold(old_folder[0], true) == fold(new_folder[0], true)) return false;
    if (old_folder[1] != ':' || (old_folder[2] != '\\' && old_folder[2] != '/')) return false;
    return starts_with(new_folder, 1, old_folder.substr(1), ignore_case);
}

bool move_kit_paths(std::string_view piece, const kit_move& move, text* moved, long* count) {
    const std::string_view from = move.old_folder;
    const std::string_view to = move.new_folder;
    if (from.empty() || to.empty() || (move.exists && from.size() < 3)) {
        *count = 0;
        return true;
    }
    // A new folder inside the old one holds the old folder itself: a path
    // that starts with it has moved already.
    const bool skip_new = starts_with(to, 0, from, move.ignore_case);
    moved_piece out(piece, move);
    long paths = 0;
    for (std::size_t at = next_candidate(piece, 0, move); at < piece.size(); at = next_candidate(piece, at, move)) {
        if (!path_may_start(piece, at)) {
            ++at;
        } else if (skip_new && starts_with(piece, at, to, move.ignore_case)) {
            at += to.size();
        } else {
            path_kind kind = path_kind::none;
            if (!path_at(piece, at, move, &kind)) return false;
            if (kind == path_kind::none) {
                ++at;
                continue;
            }
            const bool kit_path = kind == path_kind::kit_path;
            if (!out.replace(at, kit_path ? from.size() : 1, kit_path ? to : to.substr(0, 1))) return false;
            at += kit_path ? from.size() : 1;
            ++paths;
        }
        if (at >= piece.size()) break;
    }
    if (paths > 0) *moved = out.finish();
    *count = paths;
    return true;
}

} // namespace quillgate
