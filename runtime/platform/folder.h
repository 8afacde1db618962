// Listing the files of a folder (FindFirstFileA and FindNextFileA,
// opendir and readdir).
#pragma once

namespace quillgate {

constexpr int OS_FOLDER_UNREADABLE = -1; // there, but it could not be listed
constexpr int OS_FOLDER_MISSING = 0;
constexpr int OS_FOLDER_LISTED = 1;

// Calls `visit` with the name of every file directly in `folder` (a path
// that ends with the separator), in no particular order; sub-folders (and
// on POSIX anything else that is not a regular file) are passed over.
int os_list_files(const char* folder, void (*visit)(void* context, const char* name), void* context);

} // namespace quillgate
