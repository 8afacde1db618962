// Stored paths that follow a moved kit: where the old kit folder occurs in a
// piece of text, and when a path elsewhere on the old drive moves with it.
#pragma once

#include <cstddef>
#include <string_view>

#include "runtime/runtime.h"

namespace quillgate {

struct kit_move {
    // Both in the text form of the document searched, ending with the
    // separator, so that E:\kit\ never matches inside E:\kit2\.
    std::string_view old_folder;
    std::string_view new_folder;
    // Windows: ASCII letters match in any case. POSIX: bytes match exactly.
    bool ignore_case = false;
    // Whether something exists under a path (in the same text form). Given
    // only when the two folders differ in their drive letter alone: a path
    // elsewhere on the old drive then moves to the new letter when what it
    // names exists there and not under the old letter.
    // False when that could not be found out; else true, with `there`
    // telling whether something exists under the path.
    bool (*exists)(const void* context, std::string_view path, bool* there) = nullptr;
    const void* exists_context = nullptr;
};

// Whether the folders differ in the drive letter and nowhere else
// (E:\kit\ and F:\kit\). Only Windows folders have one.
bool only_drive_letter_differs(std::string_view old_folder, std::string_view new_folder, bool ignore_case);

// The piece with every stored path moved: true with `count` the number of
// paths moved (0: the piece stays as it is, `moved` untouched), false when
// memory ran short. A path that already starts with the new folder is not
// moved again, so running it twice changes nothing more.
bool move_kit_paths(std::string_view piece, const kit_move& move, text* moved, long* count);

} // namespace quillgate
