#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "runtime/platform/process.h"

// Present only in sanitizer builds: the leak checker that would otherwise run
// at exit, which _exit skips.
extern "C" void __lsan_do_leak_check() __attribute__((weak));
#if defined(QUILLGATE_COVERAGE)
// The writing of a coverage build's counters, likewise done at exit: a
// program ended this way still counts.
extern "C" void __gcov_dump();
#endif

namespace quillgate {

namespace {

// The start time is the 22nd field of /proc/<pid>/stat. The second field,
// the command name in parentheses, may itself hold spaces and parentheses,
// so the count starts after its last closing parenthesis, at the third.
constexpr int start_time_field = 22;
constexpr int first_field_after_name = 3;

} // namespace

// No atexit handlers and no static destructors, as with ExitProcess after
// the runtime has released what it holds. A sanitizer build still checks for
// leaks first; a leak then ends the process with the checker's exit code. A
// coverage build writes its counters.
void os_exit_process(unsigned code) {
    if (__lsan_do_leak_check) __lsan_do_leak_check();
#if defined(QUILLGATE_COVERAGE)
    __gcov_dump();
#endif
    _exit(static_cast<int>(code));
}

std::int64_t os_process_id() { return ::getpid(); }

process_time os_process_created(std::int64_t process_id) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/stat", static_cast<long long>(process_id));
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char stat[1024];
    ssize_t got;
    do {
        got = ::read(fd, stat, sizeof stat - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0) return 0;
    stat[got] = '\0';
    const char* field = std::strrchr(stat, ')');
    if (!field) return 0;
    for (int number = first_field_after_name; number <= start_time_field; ++number) {
        field = std::strchr(field + 1, ' ');
        if (!field) return 0;
    }
    return std::strtoull(field + 1, nullptr, 10);
}

process_time os_process_handle_created(os_handle process) { return process > 0 ? os_process_created(process) : 0; }

} // namespace quillgate
