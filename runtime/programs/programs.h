// The program runner: starts another program from a path, parameters, a
// working folder and flags; can wait for it and keep pipes to it.
#pragma once

#include <cstdint>

#include "runtime/core/text.h"
#include "runtime/platform/file_io.h"
#include "runtime/platform/process.h"

namespace quillgate {

constexpr std::uint32_t RUN_WAIT_EXIT = 1;
constexpr std::uint32_t RUN_HIDDEN = 2;
constexpr std::uint32_t RUN_KEEP_OBJECT = 4;
constexpr std::uint32_t RUN_PIPE_OUTPUT = 8;
constexpr std::uint32_t RUN_PIPE_INPUT = 16;
constexpr std::uint32_t RUN_PIPE_ERRORS = 32;
constexpr std::uint32_t RUN_INPUT_FROM_SENDER = 64;

struct program_object {
    program_object* next; // next older
    program_object* prev; // next newer
    os_handle process;
    std::int32_t process_id; // -1 when the shell started the program
    os_handle input_write;
    os_handle output_read;
    os_handle error_read;
    std::uint32_t flags;
};

void program_table_init();
// 0 when the program cannot be started; the program object's address with
// RUN_KEEP_OBJECT; 1 otherwise. When `created` is given it receives the
// started process's creation time (os_process_created), or 0 when it cannot
// be had: nothing was started, or, on POSIX, the program is neither waited
// for nor kept, so that its id was never ours to ask about.
std::intptr_t program_run(const char* program, const char* parameters, const char* working_folder, std::uint32_t flags,
                          program_object* sender = nullptr, process_time* created = nullptr);
void make_handle_private(os_handle* handle);

// For tests and library users that keep program objects.

// The newest program object, or null; older ones follow through `next`.
program_object* program_list_newest();
// Waits at most `timeout_ms` for the program's process to end and returns its
// exit code; -1 on time-out or when there is no process. The same object can
// be waited for again. On POSIX a process ended by signal n yields n, so a
// kill with SIGKILL reads 9, as TerminateProcess(9) does on Windows.
int program_wait(program_object* program, std::uint32_t timeout_ms);
// Unlinks the object from the program list, closes its process handle and
// pipe ends (the process itself keeps running) and frees it.
void program_close(program_object* program);

// Shared pieces of the runner, platform-free.

// The command line: the program in double quotes (left as it is when it
// already begins with one), then one space and the parameters when there
// are any. Null arguments count as empty. The empty text when the buffer of
// length(program) + length(parameters) + 4 bytes cannot be had.
text program_command_line(const char* program, const char* parameters);
// Working folder for the shell: the program text up to and including its
// last separator, when there is a separator after its first character;
// otherwise the empty text.
text program_shell_folder(const char* program, char separator);
// Splits a command line into arguments the way Windows programs' start-up
// code does: whitespace separates; the first argument ends at the next space
// or, when it starts with a double quote, at the next one; elsewhere 2n
// backslashes before a double quote give n backslashes and a quote that
// opens or closes a quoted part, 2n+1 give n backslashes and a literal
// quote, "" inside a quoted part is one literal quote, and other backslashes
// are plain characters. One heap block: a null-terminated pointer array
// followed by the strings; free it with heap_free. Null when it cannot be
// allocated.
char** program_split_command_line(const char* command_line);
// Pushes a new zeroed object at the head of the program list under the
// list's critical section; null when it cannot be allocated.
program_object* program_list_push();
// Keeps a started program: a new list object holding `started`'s process,
// id, pipe ends and flags (its links are ignored). When no object can be
// had, the pipe ends, which nobody could reach any more, are closed and the
// result is null; the process itself is the caller's to let go of.
program_object* program_keep(const program_object& started);
// Takes an object out of the program list under the same critical section.
void program_unlink(program_object* program);

} // namespace quillgate
