#include "runtime/platform/folder.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillgate {

int os_list_files(const char* folder, void (*visit)(void* context, const char* name), void* context) {
    if (folder == nullptr || *folder == '\0') return OS_FOLDER_MISSING;
    DIR* listing = ::opendir(folder);
    if (listing == nullptr) return errno == ENOENT || errno == ENOTDIR ? OS_FOLDER_MISSING : OS_FOLDER_UNREADABLE;
    int result = OS_FOLDER_LISTED;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            if (errno != 0) result = OS_FOLDER_UNREADABLE;
            break;
        }
        // d_type is not filled in on every file system; the entry itself is
        // asked, through the link it may be, as FindFirstFileA would see it.
        struct stat info {};
        if (::fstatat(::dirfd(listing), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode))
            visit(context, entry->d_name);
    }
    ::closedir(listing);
    return result;
}

} // namespace quillgate
