#include <windows.h>

#include "runtime/platform/process.h"

namespace quillgate {

void os_exit_process(unsigned code) { ExitProcess(code); }

} // namespace quillgate
