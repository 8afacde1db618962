// Threading primitives of the operating system: critical sections and the
// platform's one-time initialisation.
#pragma once

#include <cstdint>

namespace quillgate {

// Storage big enough for a CRITICAL_SECTION or a pthread_mutex_t; each
// platform file checks that with a static_assert. It lives inside records
// that come from the runtime heap, whose blocks are only 8-byte aligned, so
// it asks for no more than that (both objects need at most 8).
struct critical_section {
    alignas(8) unsigned char storage[64];
};

void critical_section_init(critical_section* section);
void critical_section_enter(critical_section* section);
void critical_section_leave(critical_section* section);
void critical_section_delete(critical_section* section);

// Pointer-sized, zero-initialised state of a one-time initialisation: the
// platform's own one-time object where there is one, or the 0/1/2 word of
// the compare-and-swap fallback.
using once_state = std::intptr_t;

// Runs `routine` through the platform's one-time initialisation, looked up at
// run time. False when the platform has none; the caller then falls back on
// its own compare-and-swap on the same state word.
bool platform_execute_once(once_state* state, void (*routine)());

// Gives up the rest of the time slice (Sleep(0) / sched_yield).
void platform_yield();
// Sleeps for at least the milliseconds given, letting threads of any
// priority run meanwhile.
void platform_sleep_ms(unsigned milliseconds);

} // namespace quillgate
