// File primitives of the operating system, shaped after the Win32 calls they
// wrap (CreateFileA, ReadFile, WriteFile, SetFilePointer, SetEndOfFile,
// CloseHandle). Handles of pipes travel through the same type and the same
// read and write calls.
//
// Every read, write, seek, truncate, flush and replace passes the I/O fault
// countdown, so tests can fail the n-th operation from now.
#pragma once

#include <cstdint>

namespace quillgate {

// An operating-system file handle; 0 means none.
using os_handle = std::intptr_t;

// Access, share, disposition and attribute values as Win32 defines them.
constexpr std::uint32_t OS_GENERIC_READ = 0x80000000u;
constexpr std::uint32_t OS_GENERIC_WRITE = 0x40000000u;
constexpr std::uint32_t OS_SHARE_READ = 1;
constexpr std::uint32_t OS_SHARE_WRITE = 2;
constexpr std::uint32_t OS_CREATE_ALWAYS = 2;
constexpr std::uint32_t OS_OPEN_EXISTING = 3;
constexpr std::uint32_t OS_OPEN_ALWAYS = 4;
constexpr std::uint32_t OS_TRUNCATE_EXISTING = 5;
constexpr std::uint32_t OS_ATTRIBUTE_NORMAL = 0x80;

constexpr std::uint32_t OS_SEEK_BEGIN = 0;
constexpr std::uint32_t OS_SEEK_CURRENT = 1;
constexpr std::uint32_t OS_SEEK_END = 2;
constexpr std::uint32_t OS_INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// 0 on failure.
os_handle os_file_open(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                       std::uint32_t attributes);
// Bytes transferred; 0 at end of file or on error.
std::uint32_t os_file_read(os_handle handle, void* into, std::uint32_t size);
std::uint32_t os_file_write(os_handle handle, const void* from, std::uint32_t size);
// SetFilePointer: the distance is `low` plus, when `high` is given, *high
// shifted up by 32; *high receives the high half of the new position. The
// result is the low half, or OS_INVALID_SET_FILE_POINTER on failure.
std::uint32_t os_file_seek(os_handle handle, std::int32_t low, std::int32_t* high, std::uint32_t method);
// The same move with one signed 64-bit distance; the new position, or -1 on
// failure (which the low-half result above cannot always tell apart).
std::int64_t os_file_move(os_handle handle, std::int64_t distance, std::uint32_t method);
// SetEndOfFile at the current position.
bool os_file_set_end(os_handle handle);
bool os_file_close(os_handle handle);
// GetFileSize as 64 bits; -1 on failure.
std::int64_t os_file_size(os_handle handle);

// I/O fault injection, the same contract as heap_fail_after.
void io_fail_after(long successes, bool persistent = false);
bool io_fault_fired();
// True when the operation now starting must fail; called by the primitives.
bool io_fault_hit();

} // namespace quillgate
