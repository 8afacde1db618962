// The platform-free half of the program runner: the program list, the
// command line, the shell's working folder and the argument splitting that
// lets a parameter text mean the same to a program on either platform.
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/sync.h"
#include "runtime/programs/programs.h"

namespace quillgate {

namespace {

program_object* list_head = nullptr;
critical_section list_lock;
bool list_ready = false;

bool is_space(char c) { return c == ' ' || c == '\t'; }

// Where one pass of the Windows argument rules puts what it splits. With
// `out` null it only measures: the number of arguments and the bytes their
// strings need (with NULs). Both passes walk the same code, so the measure
// always fits.
struct argument_sink {
    char** pointers;
    char* out;
    std::size_t arguments = 0;
    std::size_t used = 0;

    void put(char c) {
        if (out) out[used] = c;
        ++used;
    }
    void begin_argument() {
        if (pointers) pointers[arguments] = out + used;
        ++arguments;
    }
};

// The program name: quotes only group, backslashes are plain.
const char* take_program_name(const char* p, argument_sink& sink) {
    sink.begin_argument();
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') sink.put(*p++);
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && !is_space(*p)) sink.put(*p++);
    }
    sink.put('\0');
    return p;
}

// A run of backslashes: before a quote, half of them stand for themselves
// and an odd one makes the quote plain; elsewhere they are all plain.
const char* take_backslashes(const char* p, argument_sink& sink) {
    std::size_t slashes = 0;
    while (*p == '\\') {
        ++slashes;
        ++p;
    }
    if (*p != '"') {
        for (std::size_t i = 0; i < slashes; ++i) sink.put('\\');
        return p;
    }
    for (std::size_t i = 0; i < slashes / 2; ++i) sink.put('\\');
    if (slashes % 2 == 1) {
        sink.put('"');
        ++p;
    }
    // An even count leaves the quote to the caller.
    return p;
}

// One argument after the program name, up to white space outside quotes.
const char* take_argument(const char* p, argument_sink& sink) {
    sink.begin_argument();
    bool quoted = false;
    while (*p != '\0' && (quoted || !is_space(*p))) {
        if (*p == '\\') {
            p = take_backslashes(p, sink);
        } else if (*p == '"') {
            if (quoted && p[1] == '"') {
                sink.put('"');
                p += 2;
            } else {
                quoted = !quoted;
                ++p;
            }
        } else {
            sink.put(*p++);
        }
    }
    sink.put('\0');
    return p;
}

void split_pass(const char* line, std::size_t* count, std::size_t* bytes, char** pointers, char* out) {
    argument_sink sink{pointers, out};
    const char* p = line;
    if (*p != '\0') p = take_program_name(p, sink);
    while (true) {
        while (is_space(*p)) ++p;
        if (*p == '\0') break;
        p = take_argument(p, sink);
    }
    if (count) *count = sink.arguments;
    if (bytes) *bytes = sink.used;
}

} // namespace

void program_table_init() {
    if (list_ready) return;
    critical_section_init(&list_lock);
    list_head = nullptr;
    list_ready = true;
}

program_object* program_list_push() {
    auto* program = static_cast<program_object*>(heap_alloc_zeroed(sizeof(program_object)));
    if (!program) return nullptr;
    critical_section_enter(&list_lock);
    program->next = list_head;
    if (list_head) list_head->prev = program;
    list_head = program;
    critical_section_leave(&list_lock);
    return program;
}

program_object* program_keep(const program_object& started) {
    program_object* program = program_list_push();
    if (!program) {
        for (os_handle end : {started.input_write, started.output_read, started.error_read}) {
            if (end) os_file_close(end);
        }
        return nullptr;
    }
    program->process = started.process;
    program->process_id = started.process_id;
    program->input_write = started.input_write;
    program->output_read = started.output_read;
    program->error_read = started.error_read;
    program->flags = started.flags;
    return program;
}

program_object* program_list_newest() { return list_head; }

void program_unlink(program_object* program) {
    critical_section_enter(&list_lock);
    if (program->prev) {
        program->prev->next = program->next;
    } else if (list_head == program) {
        list_head = program->next;
    }
    if (program->next) program->next->prev = program->prev;
    critical_section_leave(&list_lock);
    program->next = nullptr;
    program->prev = nullptr;
}

text program_command_line(const char* program, const char* parameters) {
    if (!program) program = "";
    if (!parameters) parameters = "";
    std::size_t program_length = std::strlen(program);
    std::size_t parameters_length = std::strlen(parameters);
    auto* line = static_cast<char*>(heap_alloc(program_length + parameters_length + 4));
    if (!line) return {};
    std::size_t used = 0;
    if (program[0] == '"') {
        std::memcpy(line, program, program_length);
        used = program_length;
    } else {
        line[used++] = '"';
        std::memcpy(line + used, program, program_length);
        used += program_length;
        line[used++] = '"';
    }
    if (parameters_length != 0) {
        line[used++] = ' ';
        std::memcpy(line + used, parameters, parameters_length);
        used += parameters_length;
    }
    line[used] = '\0';
    return text::adopt(line, used);
}

text program_shell_folder(const char* program, char separator) {
    if (!program || program[0] == '\0') return {};
    const char* last = std::strrchr(program + 1, separator);
    if (!last) return {};
    return text::copy(program, static_cast<std::size_t>(last - program) + 1);
}

char** program_split_command_line(const char* command_line) {
    if (!command_line) command_line = "";
    std::size_t count = 0;
    std::size_t bytes = 0;
    split_pass(command_line, &count, &bytes, nullptr, nullptr);
    std::size_t table = (count + 1) * sizeof(char*);
    auto* block = static_cast<char*>(heap_alloc(table + bytes));
    if (!block) return nullptr;
    auto** pointers = reinterpret_cast<char**>(block);
    split_pass(command_line, nullptr, nullptr, pointers, block + table);
    pointers[count] = nullptr;
    return pointers;
}

} // namespace quillgate
