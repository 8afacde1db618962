// Processes as a program built on the runtime asks about them: its own id,
// and when a process was created, so that two of them can be ordered.
#pragma once

#include <cstdint>

// process_time and os_handle, the types the program runner's results use too.
#include "runtime/platform/process.h"

namespace quillgate {

// This process's id.
std::int64_t this_process_id();
// When the process with that id was created; 0 when it cannot be had (it is
// gone, or not ours to ask about).
process_time process_created(std::int64_t process_id);
// The same for a process the caller holds: its handle on Windows, its id,
// still unreaped, on POSIX. It stays right after the process has ended.
process_time process_handle_created(os_handle process);

} // namespace quillgate
