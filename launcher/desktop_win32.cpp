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
const char console_host_argument[] = "/quillgate-console-host";

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

// A console's window takes its first show state from the start-up
// information of the process it is made for (STARTF_USESHOWWINDOW,
// wShowWindow), so a console made for a process started hidden is never
// shown. A launcher started hidden allocates its console as it is. One
// started otherwise, as from the desktop, would have its console shown by
// AllocConsole (under Wine for the two seconds the hide then takes); it
// starts its own program again instead, hidden, in the internal console
// host mode (console_host_main), waits until that copy has made its console
// and is idle, attaches to the copy's console and ends the copy. Whatever
// fails on the way, it allocates its own console, as before.
constexpr DWORD console_host_ready_ms = 10000;
// How long the launcher waits for the copy it ended to be gone.
constexpr DWORD console_host_end_ms = 5000;
// How long a copy waits, at most, for the launcher to take its console.
constexpr DWORD console_host_life_ms = 60000;
constexpr DWORD console_host_poll_ms = 10;

bool started_hidden() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) && startup.wShowWindow == SW_HIDE;
}

// Whether the process has a console, with a window or without.
bool has_console() {
    DWORD process;
    return GetConsoleProcessList(&process, 1) != 0;
}

// Attaches the process to a console born hidden, made by a copy of its own
// program; false, with no console attached and no copy left running, when
// that cannot be done.
bool attach_hidden_console() {
    constexpr DWORD path_capacity = 32768;
    const std::size_t prefix = 1, suffix = sizeof console_host_argument + 3; // the quotes, a space, the switch
    auto* command = static_cast<wchar_t*>(heap_alloc((prefix + path_capacity + suffix) * sizeof(wchar_t)));
    if (!command) return false;
    wchar_t* path = command + prefix;
    const DWORD length = GetModuleFileNameW(nullptr, path, path_capacity);
    bool attached = false;
    if (length > 0 && length < path_capacity) {
        command[0] = L'"';
        wchar_t* end = path + length;
        *end++ = L'"';
        *end++ = L' ';
        for (const char* c = console_host_argument; *c; ++c) *end++ = static_cast<wchar_t>(*c);
        *end = L'\0';
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION copy{};
        // CREATE_NEW_CONSOLE: no console of the launcher's, and were the
        // system to make one for the copy before it runs, one made hidden.
        if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                           &copy)) {
            CloseHandle(copy.hThread);
            // Idle once its console is made (console_host_main); the handle
            // held keeps its process id from going to another process.
            if (WaitForInputIdle(copy.hProcess, console_host_ready_ms) == 0 &&
                WaitForSingleObject(copy.hProcess, 0) == WAIT_TIMEOUT)
                attached = AttachConsole(copy.dwProcessId) != FALSE;
            TerminateProcess(copy.hProcess, 0);
            WaitForSingleObject(copy.hProcess, console_host_end_ms);
            CloseHandle(copy.hProcess);
        }
    }
    heap_free(command);
    return attached;
}

} // namespace

int console_host_main() {
    AllocConsole(); // hidden, as the copy was started; kept if the system made one already
    // The first look at an empty message queue marks the process idle, which
    // is what the launcher waits for (WaitForInputIdle).
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    const DWORD started = GetTickCount();
    DWORD processes[2];
    // The launcher ends the copy once it has attached; should it not, the
    // copy leaves by itself when the launcher is in, or at the latest after
    // a minute.
    while (GetConsoleProcessList(processes, 2) < 2 && GetTickCount() - started < console_host_life_ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, console_host_poll_ms, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    return 0;
}

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
    if (started_hidden() || has_console() || !attach_hidden_console()) AllocConsole();
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
