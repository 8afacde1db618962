#include "runtime/platform/sync.h"

#include <windows.h>

namespace quillgate {

namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(critical_section::storage), "critical_section storage too small");
static_assert(alignof(CRITICAL_SECTION) <= alignof(critical_section), "critical_section storage misaligned");
// The state word itself serves as the system's INIT_ONCE, which is one pointer.
static_assert(sizeof(once_state) == sizeof(void*), "once_state must hold an INIT_ONCE");

CRITICAL_SECTION* section_of(critical_section* section) {
    return reinterpret_cast<CRITICAL_SECTION*>(section->storage);
}

using once_callback = BOOL(CALLBACK*)(void* init_once, void* parameter, void** context);
using execute_once_function = BOOL(WINAPI*)(void* init_once, once_callback callback, void* parameter, void** context);

BOOL CALLBACK run_routine(void*, void* parameter, void**) {
    (*static_cast<void (**)()>(parameter))();
    return TRUE;
}

} // namespace

void critical_section_init(critical_section* section) { InitializeCriticalSection(section_of(section)); }

void critical_section_enter(critical_section* section) { EnterCriticalSection(section_of(section)); }

void critical_section_leave(critical_section* section) { LeaveCriticalSection(section_of(section)); }

void critical_section_delete(critical_section* section) { DeleteCriticalSection(section_of(section)); }

// Looked up at run time rather than imported, so that the program still loads
// on systems whose kernel lacks the one-time initialisation.
bool platform_execute_once(once_state* state, void (*routine)()) {
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    if (!kernel) return false;
    FARPROC found = GetProcAddress(kernel, "InitOnceExecuteOnce");
    if (!found) {
        FreeLibrary(kernel);
        return false;
    }
    auto execute_once = reinterpret_cast<execute_once_function>(reinterpret_cast<void (*)()>(found));
    execute_once(state, run_routine, &routine, nullptr);
    FreeLibrary(kernel);
    return true;
}

void platform_yield() { Sleep(0); }
void platform_sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

} // namespace quillgate
