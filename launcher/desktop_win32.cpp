// The desktop operations on Windows.
#include <windows.h>

#include <cstring>

#include <mmsystem.h>
#include <tlhelp32.h>

#include "launcher/desktop.h"
#include "runtime/runtime.h"

namespace quillgate {

const char path_separator = '\\';
const bool path_ignores_case = true;

namespace {

#if !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296, "the process entry of 32-bit Windows");
#endif

// The exit code of a process ended by the clean-up.
constexpr UINT terminated_exit_code = 9;

bool timer_resolution_set = false;
int resolution_requests = 0;

BOOL WINAPI control_routine(DWORD event) { return console_control_handler(static_cast<int>(event)) ? TRUE : FALSE; }

// The console's host answers only once it has made its window: under Wine a
// few tenths of a second after AllocConsole returned, and a ShowWindow that
// hides a shown console then waits up to two seconds more for a window
// manager that a bare X display does not have. So the title and the hide go
// to a thread of the console's own, as asynchronous procedure calls, which
// run in the order queued, and the launch never waits on the host. Calls
// queued before the thread begins run first thing in it, so it is marked
// running before it is created; after that only the thread touches the mark.
HANDLE console_worker = nullptr;
bool console_worker_running = false;

DWORD WINAPI run_console_worker(void*) {
    while (console_worker_running) SleepEx(INFINITE, TRUE);
    return 0;
}

void CALLBACK stop_console_worker(ULONG_PTR) { console_worker_running = false; }

void CALLBACK set_title_now(ULONG_PTR title) {
    SetConsoleTitleA(reinterpret_cast<const char*>(title));
    heap_free(reinterpret_cast<void*>(title));
}

// ShowWindowAsync: the hide is posted to the host, not waited for.
void CALLBACK hide_now(ULONG_PTR) { ShowWindowAsync(GetConsoleWindow(), SW_HIDE); }

// Runs `call` on the console's thread, or here when there is none.
void on_console_worker(PAPCFUNC call, ULONG_PTR argument) {
    if (!console_worker || !QueueUserAPC(call, console_worker, argument)) call(argument);
}

} // namespace

void lower_in_place(char* bytes) {
    if (bytes && *bytes) CharLowerA(bytes);
}

window_handle find_window_with_title(const char* fragment, window_test accept, void* context) {
    HWND window = GetWindow(GetDesktopWindow(), GW_CHILD);
    while (window) {
        int length = GetWindowTextLengthA(window);
        if (length < 0) length = 0;
        auto* title = static_cast<char*>(heap_alloc(static_cast<std::size_t>(length) + 2));
        if (title) {
            title[0] = '\0';
            GetWindowTextA(window, title, length + 2);
            bool match = title_contains(title, fragment);
            heap_free(title);
            auto handle = reinterpret_cast<window_handle>(window);
            if (match && (!accept || accept(handle, context))) return handle;
        }
        window = GetWindow(window, GW_HWNDNEXT);
    }
    return 0;
}

std::int64_t window_process(window_handle window) {
    DWORD id = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &id);
    return id;
}

void each_process_named(const char* image_name, process_visit visit, void* context) {
    if (!image_name) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (Process32First(snapshot, &entry)) {
        do {
            if (image_name_matches(entry.szExeFile, image_name) && !visit(entry.th32ProcessID, context)) break;
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
}

int terminate_process_created(std::int64_t process_id, process_time created) {
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process_id));
    if (static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(process)) <= 0) return 0;
    // Asked on the handle that terminates, so the answer cannot go stale.
    bool same = process_handle_created(reinterpret_cast<os_handle>(process)) == created;
    bool ended = same && TerminateProcess(process, terminated_exit_code);
    CloseHandle(process);
    return ended ? 1 : 0;
}

int console_open(const char* title) {
    AllocConsole();
    SetConsoleCtrlHandler(control_routine, TRUE);
    if (!console_worker) {
        console_worker_running = true;
        console_worker = CreateThread(nullptr, 0, run_console_worker, nullptr, 0, nullptr);
    }
    if (title) console_set_title(title);
    return 1;
}

void console_set_title(const char* title) {
    if (!title) return;
    text copy = text::copy(title, std::strlen(title));
    if (char* block = copy.release()) on_console_worker(set_title_now, reinterpret_cast<ULONG_PTR>(block));
}

void console_hide() { on_console_worker(hide_now, 0); }

// What is still queued for the console runs before it goes.
void console_close() {
    if (console_worker) {
        on_console_worker(stop_console_worker, 0);
        WaitForSingleObject(console_worker, INFINITE);
        CloseHandle(console_worker);
        console_worker = nullptr;
    }
    FreeConsole();
}

void delay_ms(std::uint32_t milliseconds) {
    if (!timer_resolution_set) {
        timeBeginPeriod(1);
        timer_resolution_set = true;
        ++resolution_requests;
    }
    Sleep(milliseconds);
}

int delay_resolution_requests() { return resolution_requests; }

void window_post_close(window_handle window) { PostMessageA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0); }

text current_directory() {
    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (length == 0) return {};
    if (length < MAX_PATH) return text::copy(buffer, length);
    // Too long for the buffer: the result is the size needed. The folder can
    // change between two calls, so ask again until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        auto* block = static_cast<char*>(heap_alloc(length));
        if (!block) return {};
        DWORD got = GetCurrentDirectoryA(length, block);
        if (got != 0 && got < length) return text::adopt(block, got);
        heap_free(block);
        if (got == 0) return {};
        length = got;
    }
    return {};
}

} // namespace quillgate
