#include <unistd.h>

#include "runtime/platform/process.h"

namespace quillgate {

// No atexit handlers and no static destructors, as with ExitProcess after
// the runtime has released what it holds.
void os_exit_process(unsigned code) { _exit(static_cast<int>(code)); }

} // namespace quillgate
