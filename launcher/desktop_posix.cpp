// The desktop operations on POSIX: processes from /proc, SIGKILL for
// termination, the controlling terminal as the console with SIGHUP as its
// close event. There are no Win32 windows here, so the window search finds
// none and the window calls do nothing.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "launcher/desktop.h"
#include "runtime/runtime.h"

namespace quillgate {

const char path_separator = '/';
const bool path_ignores_case = false;

namespace {

bool timer_resolution_set = false;
int resolution_requests = 0;

pthread_t hangup_thread;
bool hangup_running = false;
std::atomic<bool> hangup_stop{false};
sigset_t mask_before_console;

// The process ids under /proc in ascending order, in one heap block; null
// when there are none or the block cannot be had.
pid_t* process_ids(std::size_t* count) {
    *count = 0;
    DIR* folder = opendir("/proc");
    if (!folder) return nullptr;
    pid_t* ids = nullptr;
    std::size_t capacity = 0;
    while (dirent* entry = readdir(folder)) {
        char* end = nullptr;
        long id = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || id <= 0) continue;
        if (*count == capacity) {
            std::size_t grown = capacity ? capacity * 2 : 256;
            auto* bigger = static_cast<pid_t*>(heap_realloc(ids, grown * sizeof(pid_t)));
            if (!bigger) break;
            ids = bigger;
            capacity = grown;
        }
        ids[(*count)++] = static_cast<pid_t>(id);
    }
    closedir(folder);
    std::sort(ids, ids + *count);
    return ids;
}

// The first argument of a process, as far as it fits; false for processes
// without one (kernel threads, zombies) or that are gone.
bool first_argument(pid_t id, char* out, std::size_t size) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(id));
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t got;
    do {
        got = ::read(fd, out, size - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0) return false;
    out[got] = '\0';
    return out[0] != '\0';
}

void* watch_hangup(void*) {
    sigset_t hangup;
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    while (true) {
        int signal_number = 0;
        if (sigwait(&hangup, &signal_number) != 0) continue;
        if (hangup_stop.load()) return nullptr;
        console_control_handler(console_ctrl_close);
        // Passed on to the default action, which ends the process, as the
        // system's own handler does after a close event.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        sigaction(SIGHUP, &defaults, nullptr);
        pthread_sigmask(SIG_UNBLOCK, &hangup, nullptr);
        raise(SIGHUP);
        return nullptr;
    }
}

} // namespace

void lower_in_place(char* bytes) {
    for (; bytes && *bytes; ++bytes) {
        *bytes = static_cast<char>(std::tolower(static_cast<unsigned char>(*bytes)));
    }
}

window_handle find_window_with_title(const char*, window_test, void*) { return 0; }

std::int64_t window_process(window_handle) { return 0; }

void each_process_named(const char* image_name, process_visit visit, void* context) {
    if (!image_name) return;
    std::size_t count = 0;
    pid_t* ids = process_ids(&count);
    char argument[4096];
    for (std::size_t i = 0; i < count; ++i) {
        if (!first_argument(ids[i], argument, sizeof argument)) continue;
        if (image_name_matches(argument, image_name) && !visit(ids[i], context)) break;
    }
    heap_free(ids);
}

// Through a descriptor of the process itself: once it is open, the id can
// no longer pass to another process between the check and the kill. Called
// by number, as the C library's own wrappers are not in every version.
int terminate_process_created(std::int64_t process_id, process_time created) {
    int process = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(process_id), 0));
    if (process < 0) return 0;
    bool same = process_created(process_id) == created;
    bool ended = same && ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0) == 0;
    ::close(process);
    return ended ? 1 : 0;
}

// The close event comes as SIGHUP, taken by sigwait on a thread of its own;
// SIGHUP is blocked on the thread that opens the console (the launcher's
// only one) and on every thread it starts afterwards.
int console_open(const char* title) {
    if (!hangup_running) {
        sigset_t hangup;
        sigemptyset(&hangup);
        sigaddset(&hangup, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &hangup, &mask_before_console);
        hangup_stop.store(false);
        if (pthread_create(&hangup_thread, nullptr, watch_hangup, nullptr) == 0) {
            hangup_running = true;
        } else {
            pthread_sigmask(SIG_SETMASK, &mask_before_console, nullptr);
        }
    }
    if (title) console_set_title(title);
    return 1;
}

void console_set_title(const char* title) {
    if (!title) return;
    int terminal = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) return;
    char sequence[512];
    int length = std::snprintf(sequence, sizeof sequence, "\033]0;%s\007", title);
    if (length > 0) {
        std::size_t size = std::min(static_cast<std::size_t>(length), sizeof sequence - 1);
        ssize_t ignored = ::write(terminal, sequence, size);
        (void)ignored;
    }
    ::close(terminal);
}

void console_close() {
    if (!hangup_running) return;
    hangup_stop.store(true);
    pthread_kill(hangup_thread, SIGHUP);
    pthread_join(hangup_thread, nullptr);
    hangup_running = false;
    // Without a console no close event reaches the process any more.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, nullptr);
    pthread_sigmask(SIG_SETMASK, &mask_before_console, nullptr);
}

void delay_ms(std::uint32_t milliseconds) {
    if (!timer_resolution_set) {
        // POSIX sleeps are already finer than a millisecond; the request is
        // only counted, so both platforms keep the same contract.
        timer_resolution_set = true;
        ++resolution_requests;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {}
}

int delay_resolution_requests() { return resolution_requests; }

// A terminal has no window of its own to hide.
void console_hide() {}
void window_post_close(window_handle) {}

text current_directory() {
    std::size_t size = 260;
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto* block = static_cast<char*>(heap_alloc(size));
        if (!block) return {};
        if (::getcwd(block, size)) return text::adopt(block, std::strlen(block));
        heap_free(block);
        if (errno != ERANGE) return {};
        size *= 2;
    }
    return {};
}

} // namespace quillgate
