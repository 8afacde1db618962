// Ending the process.
#pragma once

namespace quillgate {

// ExitProcess / _exit with the given code.
[[noreturn]] void os_exit_process(unsigned code);

} // namespace quillgate
