// The program runner on POSIX.
//
// The same contract as on Windows: the command line is built the same way
// and split back into arguments by the Windows rules, so a parameter text
// means the same to the program on either platform. A pipe end is a
// descriptor plus one, like every other os_handle here. Every pipe is made
// close-on-exec; the child's ends reach the child only as its standard
// streams, which is what handing inheritable handles to CreateProcessA does.
//
// RUN_HIDDEN has no window to hide; its "detached from any console" becomes
// a new session, away from the controlling terminal. The shell fallback is
// xdg-open, where it is on the PATH; it takes the file alone, so the
// parameters are not passed to it.
//
// A program that is neither waited for nor kept is started through an
// intermediate child that exits at once, so that init reaps it and no
// zombie is left behind: the equivalent of closing its process handle.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/core/heap.h"
#include "runtime/programs/programs.h"

namespace quillgate {

namespace {

constexpr std::uint32_t stream_flags = RUN_PIPE_OUTPUT | RUN_PIPE_INPUT | RUN_PIPE_ERRORS | RUN_INPUT_FROM_SENDER;

int fd_of(os_handle handle) { return static_cast<int>(handle - 1); }
os_handle handle_of(int fd) { return static_cast<os_handle>(fd) + 1; }

struct pipe_pair {
    int read = -1;
    int write = -1;
};

bool make_pipe(pipe_pair* pair) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pair->read = fds[0];
    pair->write = fds[1];
    return true;
}

void close_fd(int* fd) {
    if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
    }
}

struct child_setup {
    int input = -1; // descriptors that become 0, 1 and 2; -1 keeps the launcher's
    int output = -1;
    int error = -1;
    const char* folder = nullptr;
    bool new_session = false;
    bool orphan = false;
};

// Only async-signal-safe calls from here until exec: the parent may have
// other threads, whose locks the child has copies of.
[[noreturn]] void child_fail(int report) {
    int error = errno;
    ssize_t ignored = ::write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

int lift(int fd) {
    // A source descriptor among 0..2 could be overwritten by an earlier dup2.
    if (fd < 0 || fd > 2) return fd;
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

void place(int fd, int target) {
    if (fd >= 0) ::dup2(fd, target);
}

[[noreturn]] void run_child(const child_setup& setup, const char* file, char* const* argv, int report) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGHUP, &defaults, nullptr);
    sigaction(SIGPIPE, &defaults, nullptr);
    if (setup.orphan) {
        pid_t grandchild = fork();
        if (grandchild < 0) child_fail(report);
        if (grandchild > 0) _exit(0);
    }
    if (setup.new_session) setsid();
    int input = lift(setup.input);
    int output = lift(setup.output);
    int error = lift(setup.error);
    place(input, 0);
    place(output, 1);
    place(error, 2);
    if (setup.folder && ::chdir(setup.folder) != 0) child_fail(report);
    execvp(file, argv);
    child_fail(report);
}

void reap(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
}

// The started process's id, or -1 when it could not be started (the exec
// failure comes back through a close-on-exec pipe).
pid_t spawn(const child_setup& setup, const char* file, char* const* argv) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        ::close(report[0]);
        run_child(setup, file, argv, report[1]);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    int child_error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &child_error, sizeof child_error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (setup.orphan || got > 0) reap(pid);
    return got > 0 ? -1 : pid;
}

void wait_for_end(pid_t pid, bool keep_waitable) {
    if (!keep_waitable) {
        reap(pid);
        return;
    }
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {}
}

bool find_on_path(const char* name, char* out, std::size_t size) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    while (*path) {
        const char* end = std::strchr(path, ':');
        std::size_t length = end ? static_cast<std::size_t>(end - path) : std::strlen(path);
        if (length > 0) {
            int written = std::snprintf(out, size, "%.*s/%s", static_cast<int>(length), path, name);
            if (written > 0 && static_cast<std::size_t>(written) < size && ::access(out, X_OK) == 0) return true;
        }
        if (!end) break;
        path = end + 1;
    }
    return false;
}

} // namespace

void make_handle_private(os_handle* handle) {
    int duplicate = fcntl(fd_of(*handle), F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) return;
    ::close(fd_of(*handle));
    *handle = handle_of(duplicate);
}

namespace {

// The pipes a start asks for, and what the child is handed of them.
struct launch {
    child_setup setup;
    pipe_pair input, output, error;

    void close_child_ends() {
        close_fd(&input.read);
        close_fd(&output.write);
        close_fd(&error.write);
    }
    void close_all() {
        close_child_ends();
        close_fd(&input.write);
        close_fd(&output.read);
        close_fd(&error.read);
    }
};

// Input from the sender's output or a pipe, and pipes from the output and
// the errors of a kept program; a program given any stream stays in the
// launcher's session.
void prepare_streams(launch& run, std::uint32_t flags, program_object* sender) {
    const bool keep_object = (flags & RUN_KEEP_OBJECT) != 0;
    if ((flags & RUN_INPUT_FROM_SENDER) && sender && sender->output_read) {
        run.setup.input = fd_of(sender->output_read);
        run.setup.new_session = false;
    } else if (keep_object && (flags & RUN_PIPE_INPUT) && make_pipe(&run.input)) {
        run.setup.input = run.input.read;
        run.setup.new_session = false;
    }
    if (keep_object && (flags & RUN_PIPE_OUTPUT) && make_pipe(&run.output)) {
        run.setup.output = run.output.write;
        run.setup.new_session = false;
    }
    if (keep_object && (flags & RUN_PIPE_ERRORS) && make_pipe(&run.error)) {
        run.setup.error = run.error.write;
        run.setup.new_session = false;
    }
}

// The result for a started process: waited for when asked, then kept as an
// object with our pipe ends, or let go of. An orphan's id was its
// intermediate's, reaped already and free for reuse; any other stays ours
// until it is reaped.
std::intptr_t started(pid_t pid, std::int32_t process_id, const launch& run, const child_setup& setup,
                      std::uint32_t flags, process_time* created) {
    const bool keep_object = (flags & RUN_KEEP_OBJECT) != 0;
    if (created && !setup.orphan) *created = os_process_handle_created(pid);
    if ((flags & RUN_WAIT_EXIT) && !setup.orphan) wait_for_end(pid, keep_object);
    if (!keep_object) return 1;
    program_object kept{nullptr, nullptr, pid, process_id, handle_of(run.input.write), handle_of(run.output.read),
                        handle_of(run.error.read), flags};
    return reinterpret_cast<std::intptr_t>(program_keep(kept));
}

// The opener's way, for texts that name a document: xdg-open, given the
// text alone.
std::intptr_t run_through_shell(const char* program, const launch& run, std::uint32_t flags, process_time* created) {
    char opener[PATH_MAX];
    if (!find_on_path("xdg-open", opener, sizeof opener)) return 0;
    text derived;
    child_setup shell;
    shell.folder = run.setup.folder;
    if (!shell.folder) {
        derived = program_shell_folder(program, '/');
        if (!derived.empty()) shell.folder = derived.c_str();
    }
    shell.new_session = (flags & RUN_HIDDEN) != 0;
    shell.orphan = run.setup.orphan;
    char opener_name[] = "xdg-open";
    char* shell_argv[] = {opener_name, const_cast<char*>(program ? program : ""), nullptr};
    pid_t pid = spawn(shell, opener, shell_argv);
    if (pid <= 0) return 0;
    return started(pid, -1, launch{}, shell, flags, created);
}

} // namespace

std::intptr_t program_run(const char* program, const char* parameters, const char* working_folder, std::uint32_t flags,
                          program_object* sender, process_time* created) {
    if (created) *created = 0;
    launch run;
    run.setup.new_session = (flags & RUN_HIDDEN) != 0;
    prepare_streams(run, flags, sender);

    text line = program_command_line(program, parameters);
    char** argv = line.empty() ? nullptr : program_split_command_line(line.c_str());
    if (!argv) {
        run.close_all();
        return 0;
    }
    if (working_folder && *working_folder) run.setup.folder = working_folder;
    run.setup.orphan = !(flags & RUN_KEEP_OBJECT) && !(flags & RUN_WAIT_EXIT);

    pid_t pid = argv[0] ? spawn(run.setup, argv[0], argv) : -1;
    heap_free(argv);
    if (pid > 0) {
        run.close_child_ends();
        return started(pid, static_cast<std::int32_t>(pid), run, run.setup, flags, created);
    }
    run.close_all();
    if (flags & stream_flags) return 0;
    return run_through_shell(program, run, flags, created);
}

int program_wait(program_object* program, std::uint32_t timeout_ms) {
    if (!program || program->process <= 0) return -1;
    auto pid = static_cast<id_t>(program->process);
    std::uint32_t waited = 0;
    while (true) {
        siginfo_t info{};
        if (waitid(P_PID, pid, &info, WEXITED | WNOWAIT | WNOHANG) == 0) {
            if (info.si_pid == static_cast<pid_t>(pid)) return info.si_status;
        } else if (errno != EINTR) {
            return -1;
        }
        if (waited >= timeout_ms) return -1;
        usleep(2000);
        waited += 2;
    }
}

void program_close(program_object* program) {
    if (!program) return;
    program_unlink(program);
    if (program->input_write) ::close(fd_of(program->input_write));
    if (program->output_read) ::close(fd_of(program->output_read));
    if (program->error_read) ::close(fd_of(program->error_read));
    if (program->process > 0) {
        int status;
        waitpid(static_cast<pid_t>(program->process), &status, WNOHANG);
    }
    heap_free(program);
}

} // namespace quillgate
