// Whole-file replacement on POSIX: O_EXCL temporaries, fsync, rename().
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/replace.h"

namespace quillgate {

namespace {

std::atomic<unsigned> temp_counter{0};

int descriptor(os_handle handle) { return static_cast<int>(handle - 1); }

// Makes a rename durable: the folder's entry is flushed too. Best effort,
// since the file itself is already in place and complete.
void flush_folder_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    char folder[4096] = ".";
    if (slash != nullptr) {
        auto length = static_cast<std::size_t>(slash - path) + 1;
        if (length >= sizeof folder) return;
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

int replace_check_target(const char* target) {
    if (target == nullptr || *target == '\0') return REPLACE_REFUSED;
    struct stat info {};
    if (::stat(target, &info) != 0) return errno == ENOENT ? REPLACE_MISSING : REPLACE_REFUSED;
    if (!S_ISREG(info.st_mode)) return REPLACE_REFUSED;
    // A file without any write bit is read-only even to root, who could
    // write it anyway: that is the user's intent, as on Windows.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return REPLACE_REFUSED;
    if (::access(target, W_OK) != 0) return REPLACE_REFUSED;
    return REPLACE_EXISTING;
}

os_handle replace_create_temp(const char* target, char* temp_path) {
    if (target == nullptr || *target == '\0' || temp_path == nullptr) return 0;
    std::size_t room = std::strlen(target) + replace_temp_extra;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(temp_path, room, "%s.%lx-%x.tmp", target, static_cast<unsigned long>(::getpid()),
                      temp_counter.fetch_add(1));
        int fd = ::open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return static_cast<os_handle>(fd) + 1;
        if (errno != EEXIST && errno != EINTR) break;
    }
    *temp_path = '\0';
    return 0;
}

bool replace_copy_attributes(const char* target, os_handle handle, const char* /*temp_path*/) {
    struct stat info {};
    if (::stat(target, &info) != 0) return false;
    return ::fchmod(descriptor(handle), info.st_mode & 07777) == 0;
}

bool replace_flush(os_handle handle) {
    if (io_fault_hit() || handle <= 0) return false;
    return ::fsync(descriptor(handle)) == 0;
}

bool replace_move(const char* from, const char* to) {
    if (io_fault_hit() || from == nullptr || to == nullptr) return false;
    if (::rename(from, to) != 0) return false;
    flush_folder_of(to);
    return true;
}

bool replace_delete(const char* path) { return path != nullptr && ::unlink(path) == 0; }

} // namespace quillgate
