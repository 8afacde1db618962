// File primitives on Win32 handles. INVALID_HANDLE_VALUE never leaves this
// file: a failed open is reported as handle 0.
#include <windows.h>

#include "runtime/platform/file_io.h"

namespace quillgate {

namespace {

HANDLE native(os_handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool valid(os_handle handle) { return handle != 0 && native(handle) != INVALID_HANDLE_VALUE; }

} // namespace

os_handle os_file_open(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                       std::uint32_t attributes) {
    HANDLE handle = CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return 0;
    return reinterpret_cast<os_handle>(handle);
}

std::uint32_t os_file_read(os_handle handle, void* into, std::uint32_t size) {
    if (io_fault_hit() || !valid(handle)) return 0;
    DWORD got = 0;
    // Only the count matters: a failed read reads as the end of the file.
    ReadFile(native(handle), into, size, &got, nullptr);
    return got;
}

std::uint32_t os_file_write(os_handle handle, const void* from, std::uint32_t size) {
    if (io_fault_hit() || !valid(handle)) return 0;
    DWORD put = 0;
    WriteFile(native(handle), from, size, &put, nullptr);
    return put;
}

std::uint32_t os_file_seek(os_handle handle, std::int32_t low, std::int32_t* high, std::uint32_t method) {
    if (io_fault_hit() || !valid(handle)) return OS_INVALID_SET_FILE_POINTER;
    LONG high_part = high != nullptr ? *high : 0;
    DWORD result = SetFilePointer(native(handle), low, high != nullptr ? &high_part : nullptr, method);
    if (high != nullptr) *high = high_part;
    return result;
}

std::int64_t os_file_move(os_handle handle, std::int64_t distance, std::uint32_t method) {
    if (io_fault_hit() || !valid(handle)) return -1;
    auto bits = static_cast<std::uint64_t>(distance);
    auto low = static_cast<LONG>(static_cast<DWORD>(bits));
    auto high = static_cast<LONG>(static_cast<DWORD>(bits >> 32));
    // An all-ones low half is also a valid position; the error code tells.
    SetLastError(NO_ERROR);
    DWORD result = SetFilePointer(native(handle), low, &high, method);
    if (result == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | result);
}

bool os_file_set_end(os_handle handle) {
    if (io_fault_hit() || !valid(handle)) return false;
    return SetEndOfFile(native(handle)) != 0;
}

bool os_file_close(os_handle handle) {
    if (!valid(handle)) return false;
    return CloseHandle(native(handle)) != 0;
}

std::int64_t os_file_size(os_handle handle) {
    if (!valid(handle)) return -1;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(native(handle), &size)) return -1;
    return static_cast<std::int64_t>(size.QuadPart);
}

} // namespace quillgate
