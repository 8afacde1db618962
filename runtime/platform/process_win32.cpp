#include <windows.h>

#include "runtime/platform/process.h"

namespace quillgate {

void os_exit_process(unsigned code) { ExitProcess(code); }

std::int64_t os_process_id() { return GetCurrentProcessId(); }

process_time os_process_handle_created(os_handle process) {
    FILETIME created, exited, kernel, user;
    if (!process || !GetProcessTimes(reinterpret_cast<HANDLE>(process), &created, &exited, &kernel, &user)) return 0;
    return (static_cast<process_time>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

process_time os_process_created(std::int64_t process_id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process_id));
    if (!process) return 0;
    process_time created = os_process_handle_created(reinterpret_cast<os_handle>(process));
    CloseHandle(process);
    return created;
}

} // namespace quillgate
