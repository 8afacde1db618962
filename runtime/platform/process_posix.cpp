#include <unistd.h>

#include "runtime/platform/process.h"

// Present only in sanitizer builds: the leak checker that would otherwise run
// at exit, which _exit skips.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace quillgate {

// No atexit handlers and no static destructors, as with ExitProcess after
// the runtime has released what it holds. A sanitizer build still checks for
// leaks first; a leak then ends the process with the checker's exit code.
void os_exit_process(unsigned code) {
    if (__lsan_do_leak_check) __lsan_do_leak_check();
    _exit(static_cast<int>(code));
}

} // namespace quillgate
