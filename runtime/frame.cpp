#include "runtime/frame.h"

#include "runtime/core/heap.h"
#include "runtime/files/files.h"
#include "runtime/programs/programs.h"
#include "runtime/xml/xml.h"

namespace quillgate {

bool runtime_init() {
    if (!heap_create()) return false;
    // Text values are heap blocks owned by `text`; their storage needs no
    // set-up of its own beyond the heap.
    file_table_init();
    program_table_init();
    xml_table_init();
    return true;
}

void runtime_end() {
    xml_free_all();
    file_close_all();
}

} // namespace quillgate
