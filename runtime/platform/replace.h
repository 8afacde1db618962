// Replacing a file as a whole: the new content goes to a fresh file beside
// the target and takes the target's place only once it is complete and on
// disk, so a failure at any point leaves the target as it was.
//
// Handles are those of file_io.h: write with os_file_write, close with
// os_file_close. Flushing and moving pass the I/O fault countdown.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/platform/file_io.h"

namespace quillgate {

constexpr int REPLACE_REFUSED = 0;  // the target must not be replaced
constexpr int REPLACE_MISSING = 1;  // no file yet; one will be created
constexpr int REPLACE_EXISTING = 2; // a file that this process may replace

// Whether `target` may be written: refused for a folder, a read-only file
// (also for a user whom the system would let write anyway), a file this
// process has no right to write, or (Windows) one that another handle holds
// open in a mode that excludes writing.
int replace_check_target(const char* target);
// What a temporary file's path needs beyond the target's length: the
// suffix that makes it new, and the terminator.
constexpr std::size_t replace_temp_extra = 48;
// Creates a new, empty file in the folder of `target` under a name that no
// file had, open for writing; its path goes to `temp_path`, which holds
// strlen(target) + replace_temp_extra bytes. 0 on failure.
os_handle replace_create_temp(const char* target, char* temp_path);
// Gives the new file the target's attributes: hidden, system and archive on
// Windows, the permission bits on POSIX.
bool replace_copy_attributes(const char* target, os_handle handle, const char* temp_path);
// Forces the file's content to the disk (FlushFileBuffers, fsync).
bool replace_flush(os_handle handle);
// Moves `from` over `to` in one step; `to` need not exist. On Windows a
// target that another program holds open for a moment (an indexer, a virus
// scanner) is waited for, up to about a second.
bool replace_move(const char* from, const char* to);
bool replace_delete(const char* path);

} // namespace quillgate
