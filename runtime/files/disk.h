// Files and folders on disk as a program built on the runtime asks about
// them: whether something is there, a file's size, a whole file's bytes, the
// names of a folder's files, and a line read that tells an empty line from a
// failed read.
//
// Like every fallible call of the runtime's public API, these return true
// when they did their work (an empty result then really is empty) and false
// when they failed (memory short, a file held by another program, a read
// error), leaving their outputs untouched.
#pragma once

#include <cstdint>

#include "runtime/core/slots.h"
#include "runtime/core/text.h"

namespace quillgate {

// True when something (a file or a folder) exists under the path.
bool path_exists(const char* path);

// What a file on disk is: whether it is there, and its size in bytes.
struct file_facts {
    bool exists = false;
    std::int64_t size = 0;
};
// False when something is there but could not be opened to read, or its
// size could not be had; a path with nothing under it is no failure.
bool file_facts_of(const char* path, file_facts* facts);

// The whole file, followed by a NUL. Empty when nothing is there, the file
// is empty, or it is larger than `size_limit` bytes (a file that is not what
// the caller reads). False when it is there but could not be read whole.
bool file_read_whole(const char* path, std::int64_t size_limit, text* bytes);

// The names of the files directly in `folder` (a path that ends with the
// separator), each followed by a NUL, in no particular order; sub-folders
// (and on POSIX anything that is not a regular file) are passed over. A
// missing folder has no files. False when the folder is there but could not
// be listed, or the names could not be held.
bool folder_file_names(const char* folder, text* names);

// file_read_line on an open file slot, telling an empty result that is an
// empty line (or the end of the file) from one that is a failed read (memory
// short, a read error): false for the latter.
bool file_read_line_checked(object_id slot, int flags, text* line);

} // namespace quillgate
