// Ending the process, and when processes were created.
#pragma once

#include <cstdint>

#include "runtime/platform/file_io.h"

namespace quillgate {

// ExitProcess / _exit with the given code.
[[noreturn]] void os_exit_process(unsigned code);

// When a process was created, on the system's own clock, so that two of
// them can be ordered: 100 ns units since 1601 (GetProcessTimes) on Windows,
// clock ticks since boot (/proc/<pid>/stat) on POSIX. 0 when it cannot be
// had: the process is gone or is not ours to ask about.
using process_time = std::uint64_t;

// This process's id.
std::int64_t os_process_id();
process_time os_process_created(std::int64_t process_id);
// The same for a process the caller holds: its handle on Windows, its id,
// still unreaped, on POSIX. It stays right after the process has ended.
process_time os_process_handle_created(os_handle process);

} // namespace quillgate
