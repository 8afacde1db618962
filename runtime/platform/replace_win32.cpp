// Whole-file replacement on Win32: CREATE_NEW temporaries, FlushFileBuffers,
// MoveFileExA.
#include <atomic>
#include <cstdio>
#include <cstring>

#include <windows.h>

#include "runtime/platform/replace.h"

namespace quillgate {

namespace {

std::atomic<unsigned> temp_counter{0};

constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Moving over a held target is tried again this often, this far apart:
// about a second in all.
constexpr int move_attempts = 20;
constexpr DWORD move_retry_interval_ms = 50;

} // namespace

int replace_check_target(const char* target) {
    if (target == nullptr || *target == '\0') return REPLACE_REFUSED;
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? REPLACE_MISSING : REPLACE_REFUSED;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return REPLACE_REFUSED;
    // Opened the way a writer that empties it would open it, but without
    // emptying it: this fails when another handle holds the file in a mode
    // that excludes us, or when we may not write it. (Moving over a file
    // checks neither everywhere.)
    HANDLE probe = CreateFileA(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return REPLACE_REFUSED;
    CloseHandle(probe);
    return REPLACE_EXISTING;
}

os_handle replace_create_temp(const char* target, char* temp_path) {
    if (target == nullptr || *target == '\0' || temp_path == nullptr) return 0;
    std::size_t room = std::strlen(target) + replace_temp_extra;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(temp_path, room, "%s.%lx-%x.tmp", target, static_cast<unsigned long>(GetCurrentProcessId()),
                      temp_counter.fetch_add(1));
        HANDLE handle = CreateFileA(temp_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr) return reinterpret_cast<os_handle>(handle);
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    *temp_path = '\0';
    return 0;
}

bool replace_copy_attributes(const char* target, os_handle /*handle*/, const char* temp_path) {
    DWORD old = GetFileAttributesA(target);
    DWORD now = GetFileAttributesA(temp_path);
    if (old == INVALID_FILE_ATTRIBUTES || now == INVALID_FILE_ATTRIBUTES) return false;
    DWORD wanted = old & kept_attributes;
    if ((now & kept_attributes) == wanted) return true;
    return SetFileAttributesA(temp_path, wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool replace_flush(os_handle handle) {
    if (io_fault_hit() || handle == 0) return false;
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0;
}

bool replace_move(const char* from, const char* to) {
    if (io_fault_hit() || from == nullptr || to == nullptr) return false;
    // A program that holds the target open without delete sharing makes
    // the move fail with access denied or a sharing violation until it lets
    // go; indexers, scanners and sync clients do so within moments.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
        DWORD error = GetLastError();
        bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held || attempt >= move_attempts) return false;
        Sleep(move_retry_interval_ms);
    }
}

bool replace_delete(const char* path) { return path != nullptr && DeleteFileA(path) != 0; }

} // namespace quillgate
