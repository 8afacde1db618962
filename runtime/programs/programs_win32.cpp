// The program runner on Windows: CreateProcessA from a command line of our
// own making, pipes to the program's standard streams, and the shell as the
// fallback for texts that name documents rather than programs.
#include <windows.h>

#include <shellapi.h>

#include "runtime/core/heap.h"
#include "runtime/programs/programs.h"

namespace quillgate {

namespace {

constexpr std::uint32_t stream_flags = RUN_PIPE_OUTPUT | RUN_PIPE_INPUT | RUN_PIPE_ERRORS | RUN_INPUT_FROM_SENDER;

HANDLE handle_of(os_handle handle) { return reinterpret_cast<HANDLE>(handle); }
os_handle os_handle_of(HANDLE handle) { return reinterpret_cast<os_handle>(handle); }

void close_handle(HANDLE* handle) {
    if (*handle) {
        CloseHandle(*handle);
        *handle = nullptr;
    }
}

void make_private(HANDLE* handle) {
    os_handle value = os_handle_of(*handle);
    make_handle_private(&value);
    *handle = handle_of(value);
}

// The program's standard streams, in the order of the pipe arrays below.
enum stream { stream_input, stream_output, stream_errors, stream_count };

// What CreateProcessA is given, and the pipe ends made for the program.
struct launch {
    STARTUPINFOA startup{};
    DWORD creation = 0;
    BOOL inherit = FALSE;
    HANDLE program_ends[stream_count] = {}; // handed to the program
    HANDLE kept_ends[stream_count] = {};    // ours: input write, output read, error read
    // The sender's reading end was made private when the sender started; the
    // program only gets a standard input it can use from an inheritable copy.
    HANDLE sender_copy = nullptr;

    void close_program_ends() {
        for (HANDLE& end : program_ends) close_handle(&end);
        close_handle(&sender_copy);
    }
    void close_all() {
        close_program_ends();
        for (HANDLE& end : kept_ends) close_handle(&end);
    }
};

// The program gets `handle` as one of its standard streams; handles are then
// passed on, and the program shares the console rather than going without.
void give_stream(launch& run, stream which, HANDLE handle) {
    HANDLE* slots[stream_count] = {&run.startup.hStdInput, &run.startup.hStdOutput, &run.startup.hStdError};
    *slots[which] = handle;
    run.startup.dwFlags |= STARTF_USESTDHANDLES;
    run.inherit = TRUE;
    run.creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
}

// A pipe for one stream: the program's end inheritable, ours private. Left
// out when no pipe can be had.
void add_pipe(launch& run, stream which) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inheritable, 0)) return;
    bool into_program = which == stream_input;
    run.program_ends[which] = into_program ? read : write;
    run.kept_ends[which] = into_program ? write : read;
    make_private(&run.kept_ends[which]);
    give_stream(run, which, run.program_ends[which]);
}

// The streams the flags ask for: input from the sender's output or a pipe,
// and pipes from the output and the errors of a kept program. Streams not
// asked for stay the launcher's own once any is passed.
void prepare_streams(launch& run, std::uint32_t flags, program_object* sender) {
    const bool keep_object = (flags & RUN_KEEP_OBJECT) != 0;
    if ((flags & RUN_INPUT_FROM_SENDER) && sender && sender->output_read) {
        HANDLE self = GetCurrentProcess();
        if (!DuplicateHandle(self, handle_of(sender->output_read), self, &run.sender_copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
            run.sender_copy = nullptr;
        }
        give_stream(run, stream_input, run.sender_copy ? run.sender_copy : handle_of(sender->output_read));
    } else if (keep_object && (flags & RUN_PIPE_INPUT)) {
        add_pipe(run, stream_input);
    }
    if (keep_object && (flags & RUN_PIPE_OUTPUT)) add_pipe(run, stream_output);
    if (keep_object && (flags & RUN_PIPE_ERRORS)) add_pipe(run, stream_errors);
    if (run.startup.dwFlags & STARTF_USESTDHANDLES) {
        if (!run.startup.hStdInput) run.startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        if (!run.startup.hStdOutput) run.startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!run.startup.hStdError) run.startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
}

// The result for a started process: waited for when asked, then kept as an
// object with our pipe ends, or let go of.
std::intptr_t started(HANDLE process, std::int32_t process_id, const HANDLE* kept_ends, std::uint32_t flags,
                      process_time* created) {
    if (created && process) *created = os_process_handle_created(os_handle_of(process));
    if ((flags & RUN_WAIT_EXIT) && process) WaitForSingleObject(process, INFINITE);
    if (!(flags & RUN_KEEP_OBJECT)) {
        if (process) CloseHandle(process);
        return 1;
    }
    program_object* program = program_keep({nullptr, nullptr, os_handle_of(process), process_id,
                                            os_handle_of(kept_ends[stream_input]),
                                            os_handle_of(kept_ends[stream_output]),
                                            os_handle_of(kept_ends[stream_errors]), flags});
    if (!program && process) CloseHandle(process);
    return reinterpret_cast<std::intptr_t>(program);
}

// The shell's way, for texts that name a document or anything else the
// shell can open; it has no streams to hand over.
std::intptr_t run_through_shell(const char* program, const char* parameters, const char* folder, WORD show,
                                std::uint32_t flags, process_time* created) {
    text derived;
    if (!folder) {
        derived = program_shell_folder(program, '\\');
        if (!derived.empty()) folder = derived.c_str();
    }
    SHELLEXECUTEINFOA shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
    shell.lpFile = program;
    shell.lpParameters = parameters;
    shell.lpDirectory = folder;
    shell.nShow = show;
    if (!ShellExecuteExA(&shell)) return 0;
    const HANDLE no_ends[stream_count] = {};
    return started(shell.hProcess, -1, no_ends, flags, created);
}

} // namespace

void make_handle_private(os_handle* handle) {
    HANDLE duplicate = nullptr;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, handle_of(*handle), self, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) return;
    CloseHandle(handle_of(*handle));
    *handle = os_handle_of(duplicate);
}

std::intptr_t program_run(const char* program, const char* parameters, const char* working_folder, std::uint32_t flags,
                          program_object* sender, process_time* created) {
    if (created) *created = 0;
    if (!program) program = "";
    if (!parameters) parameters = "";
    const WORD show = (flags & RUN_HIDDEN) ? SW_HIDE : SW_SHOWNORMAL;
    const char* folder = (working_folder && *working_folder) ? working_folder : nullptr;

    launch run;
    run.startup.cb = sizeof run.startup;
    run.startup.dwFlags = STARTF_USESHOWWINDOW;
    run.startup.wShowWindow = show;
    run.creation = NORMAL_PRIORITY_CLASS | ((flags & RUN_HIDDEN) ? DETACHED_PROCESS : 0);
    prepare_streams(run, flags, sender);

    text line = program_command_line(program, parameters);
    if (line.empty()) {
        run.close_all();
        return 0;
    }
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, which is ours to lend.
    if (CreateProcessA(nullptr, const_cast<char*>(line.c_str()), nullptr, nullptr, run.inherit, run.creation, nullptr,
                       folder, &run.startup, &process)) {
        run.close_program_ends();
        CloseHandle(process.hThread);
        return started(process.hProcess, static_cast<std::int32_t>(process.dwProcessId), run.kept_ends, flags,
                       created);
    }
    run.close_all();
    if (flags & stream_flags) return 0;
    return run_through_shell(program, parameters, folder, show, flags, created);
}

int program_wait(program_object* program, std::uint32_t timeout_ms) {
    if (!program || !program->process) return -1;
    HANDLE process = handle_of(program->process);
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return -1;
    return static_cast<int>(code);
}

void program_close(program_object* program) {
    if (!program) return;
    program_unlink(program);
    if (program->input_write) CloseHandle(handle_of(program->input_write));
    if (program->output_read) CloseHandle(handle_of(program->output_read));
    if (program->error_read) CloseHandle(handle_of(program->error_read));
    if (program->process) CloseHandle(handle_of(program->process));
    heap_free(program);
}

} // namespace quillgate
