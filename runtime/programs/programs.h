// The program runner: starts another program from a path, parameters, a
// working folder and flags; can wait for it and keep pipes to it.
#pragma once

#include <cstdint>

#include "runtime/platform/file_io.h"

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
// RUN_KEEP_OBJECT; 1 otherwise.
std::intptr_t program_run(const char* program, const char* parameters, const char* working_folder,
                          std::uint32_t flags, program_object* sender = nullptr);
void make_handle_private(os_handle* handle);

} // namespace quillgate
