// The kit's lock on Windows: a mutex in the user's session ("Local\"), named
// after a hash of the kit folder lower-cased, since the same folder may be
// reached in any letter case and its full path may be longer than a name.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "launcher/desktop.h"
#include "launcher/kit_lock.h"
#include "runtime/runtime.h"

namespace quillgate {

namespace {

constexpr std::uint64_t fnv_offset = 14695981039346656037ull;
constexpr std::uint64_t fnv_prime = 1099511628211ull;

HANDLE held = nullptr;

// FNV-1a over the folder's bytes; 0 when the lowered copy cannot be had.
std::uint64_t folder_hash(const char* kit_folder) {
    text lowered = text::copy(kit_folder, std::strlen(kit_folder));
    char* bytes = lowered.release();
    if (!bytes) return 0;
    lower_in_place(bytes);
    std::uint64_t hash = fnv_offset;
    for (const char* p = bytes; *p; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * fnv_prime;
    heap_free(bytes);
    return hash;
}

} // namespace

int kit_lock_take(const char* kit_folder) {
    if (!kit_folder || !*kit_folder) return 1;
    std::uint64_t hash = folder_hash(kit_folder);
    if (!hash) return 1;
    char name[64];
    std::snprintf(name, sizeof name, "Local\\Quillgate-%016llx", static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
    kit_lock_release();
    held = mutex;
    return 1;
}

void kit_lock_release() {
    if (!held) return;
    CloseHandle(held);
    held = nullptr;
}

} // namespace quillgate
