#include "runtime/platform/folder.h"

#include <cstring>

#include <windows.h>

namespace quillgate {

namespace {

// Room for the search pattern; a folder too long for it counts as one that
// could not be listed.
constexpr std::size_t pattern_limit = 4096;

} // namespace

int os_list_files(const char* folder, void (*visit)(void* context, const char* name), void* context) {
    if (folder == nullptr || *folder == '\0') return OS_FOLDER_MISSING;
    char pattern[pattern_limit];
    std::size_t length = std::strlen(folder);
    if (length + 2 > sizeof pattern) return OS_FOLDER_UNREADABLE;
    std::memcpy(pattern, folder, length);
    std::memcpy(pattern + length, "*", 2);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return OS_FOLDER_LISTED;
        return error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY
                   ? OS_FOLDER_MISSING
                   : OS_FOLDER_UNREADABLE;
    }
    int result = OS_FOLDER_LISTED;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) visit(context, found.cFileName);
    } while (FindNextFileA(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) result = OS_FOLDER_UNREADABLE;
    FindClose(search);
    return result;
}

} // namespace quillgate
