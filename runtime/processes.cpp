#include "runtime/processes.h"

#include "runtime/platform/process.h"

namespace quillgate {

std::int64_t this_process_id() { return os_process_id(); }

process_time process_created(std::int64_t process_id) { return os_process_created(process_id); }

process_time process_handle_created(os_handle process) { return os_process_handle_created(process); }

} // namespace quillgate
