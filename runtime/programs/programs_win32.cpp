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

program_object* keep(HANDLE process, std::int32_t process_id, HANDLE input_write, HANDLE output_read, HANDLE error_read,
                     std::uint32_t flags) {
    program_object* program = program_list_push();
    if (!program) {
        // Nobody could ever reach these handles: give them back.
        close_handle(&input_write);
        close_handle(&output_read);
        close_handle(&error_read);
        close_handle(&process);
        return nullptr;
    }
    program->process = os_handle_of(process);
    program->process_id = process_id;
    program->input_write = os_handle_of(input_write);
    program->output_read = os_handle_of(output_read);
    program->error_read = os_handle_of(error_read);
    program->flags = flags;
    return program;
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
    const bool keep_object = (flags & RUN_KEEP_OBJECT) != 0;
    const WORD show = (flags & RUN_HIDDEN) ? SW_HIDE : SW_SHOWNORMAL;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    DWORD creation = NORMAL_PRIORITY_CLASS | ((flags & RUN_HIDDEN) ? DETACHED_PROCESS : 0);
    BOOL inherit = FALSE;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

    HANDLE input_read = nullptr, input_write = nullptr;
    HANDLE output_read = nullptr, output_write = nullptr;
    HANDLE error_read = nullptr, error_write = nullptr;
    // The sender's reading end was made private when the sender started; the
    // program only gets a standard input it can use from an inheritable copy.
    HANDLE sender_copy = nullptr;

    if ((flags & RUN_INPUT_FROM_SENDER) && sender && sender->output_read) {
        HANDLE self = GetCurrentProcess();
        if (!DuplicateHandle(self, handle_of(sender->output_read), self, &sender_copy, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
            sender_copy = nullptr;
        }
        startup.hStdInput = sender_copy ? sender_copy : handle_of(sender->output_read);
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        inherit = TRUE;
        creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
    } else if (keep_object && (flags & RUN_PIPE_INPUT) && CreatePipe(&input_read, &input_write, &inheritable, 0)) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = input_read;
        make_private(&input_write);
        inherit = TRUE;
        creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
    }
    if (keep_object) {
        if ((flags & RUN_PIPE_OUTPUT) && CreatePipe(&output_read, &output_write, &inheritable, 0)) {
            startup.dwFlags |= STARTF_USESTDHANDLES;
            startup.hStdOutput = output_write;
            make_private(&output_read);
            creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
            inherit = TRUE;
        }
        if ((flags & RUN_PIPE_ERRORS) && CreatePipe(&error_read, &error_write, &inheritable, 0)) {
            startup.dwFlags |= STARTF_USESTDHANDLES;
            startup.hStdError = error_write;
            make_private(&error_read);
            creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
            inherit = TRUE;
        }
    }
    if (startup.dwFlags & STARTF_USESTDHANDLES) {
        if (!startup.hStdInput) startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        if (!startup.hStdOutput) startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!startup.hStdError) startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    auto close_pipes = [&] {
        close_handle(&input_read);
        close_handle(&input_write);
        close_handle(&output_read);
        close_handle(&output_write);
        close_handle(&error_read);
        close_handle(&error_write);
        close_handle(&sender_copy);
    };

    if (!program) program = "";
    if (!parameters) parameters = "";
    text line = program_command_line(program, parameters);
    if (line.empty()) {
        close_pipes();
        return 0;
    }
    const char* folder = (working_folder && *working_folder) ? working_folder : nullptr;

    PROCESS_INFORMATION started{};
    // CreateProcessA may write into the command line, which is ours to lend.
    if (CreateProcessA(nullptr, const_cast<char*>(line.c_str()), nullptr, nullptr, inherit, creation, nullptr, folder,
                       &startup, &started)) {
        close_handle(&input_read);
        close_handle(&output_write);
        close_handle(&error_write);
        close_handle(&sender_copy);
        CloseHandle(started.hThread);
        if (created) *created = os_process_handle_created(os_handle_of(started.hProcess));
        if (flags & RUN_WAIT_EXIT) WaitForSingleObject(started.hProcess, INFINITE);
        if (!keep_object) {
            CloseHandle(started.hProcess);
            return 1;
        }
        return reinterpret_cast<std::intptr_t>(keep(started.hProcess, static_cast<std::int32_t>(started.dwProcessId),
                                                    input_write, output_read, error_read, flags));
    }

    close_pipes();
    if (flags & stream_flags) return 0;

    text derived;
    if (!folder) {
        derived = program_shell_folder(program, '\\');
        if (!derived.empty()) folder = derived.c_str();
    }
    SHELLEXECUTEINFOA shell{};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
    shell.hwnd = nullptr;
    shell.lpVerb = nullptr;
    shell.lpFile = program;
    shell.lpParameters = parameters;
    shell.lpDirectory = folder;
    shell.nShow = show;
    if (!ShellExecuteExA(&shell)) return 0;
    if (created && shell.hProcess) *created = os_process_handle_created(os_handle_of(shell.hProcess));
    if ((flags & RUN_WAIT_EXIT) && shell.hProcess) WaitForSingleObject(shell.hProcess, INFINITE);
    if (!keep_object) {
        if (shell.hProcess) CloseHandle(shell.hProcess);
        return 1;
    }
    return reinterpret_cast<std::intptr_t>(keep(shell.hProcess, -1, nullptr, nullptr, nullptr, flags));
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
