#include "runtime/platform/sync.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace quillgate {

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(critical_section::storage), "critical_section storage too small");
static_assert(alignof(pthread_mutex_t) <= alignof(critical_section), "critical_section storage misaligned");

pthread_mutex_t* mutex_of(critical_section* section) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(section->storage));
}

} // namespace

// Recursive, like the critical sections of the Windows build, so that code
// written against one behaves the same on the other.
void critical_section_init(critical_section* section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    auto* mutex = new (section->storage) pthread_mutex_t;
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void critical_section_enter(critical_section* section) { pthread_mutex_lock(mutex_of(section)); }

void critical_section_leave(critical_section* section) { pthread_mutex_unlock(mutex_of(section)); }

void critical_section_delete(critical_section* section) { pthread_mutex_destroy(mutex_of(section)); }

// POSIX offers no one-time initialisation that takes a caller's routine and
// state word at run time; run_once falls back on its own compare-and-swap.
bool platform_execute_once(once_state*, void (*)()) { return false; }

void platform_yield() { sched_yield(); }

void platform_sleep_ms(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {}
}

} // namespace quillgate
