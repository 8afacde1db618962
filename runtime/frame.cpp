#include "runtime/frame.h"

#include "runtime/core/heap.h"
#include "runtime/files/files.h"
#include "runtime/platform/process.h"
#include "runtime/platform/sync.h"
#include "runtime/programs/programs.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

// Serialises runtime_end against the main thread's work on files and
// documents. It lives outside the heap so that it outlasts it.
critical_section frame_section;
bool frame_section_ready = false;
bool released = false;

} // namespace

bool runtime_init() {
    if (!heap_create()) return false;
    if (!frame_section_ready) {
        critical_section_init(&frame_section);
        frame_section_ready = true;
    }
    released = false;
    // Text values are heap blocks owned by `text`; their storage needs no
    // set-up of its own beyond the heap.
    file_table_init();
    program_table_init();
    xml_table_init();
    return true;
}

void runtime_end() {
    if (!frame_section_ready) return;
    critical_section_enter(&frame_section);
    if (!released) {
        released = true;
        xml_free_all();
        file_close_all();
    }
    critical_section_leave(&frame_section);
}

bool runtime_work_begin() {
    if (!frame_section_ready) return false;
    critical_section_enter(&frame_section);
    if (released) {
        critical_section_leave(&frame_section);
        return false;
    }
    return true;
}

void runtime_work_end() { critical_section_leave(&frame_section); }

void runtime_start(void (*main_sequence)()) {
    runtime_init();
    if (main_sequence) main_sequence();
    runtime_end();
    // Text values live in heap blocks, so their storage goes with the heap.
    heap_destroy();
    os_exit_process(0);
}

} // namespace quillgate
