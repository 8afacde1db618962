// The runtime frame: start-up and shutdown around the launch sequence.
#pragma once

namespace quillgate {

// The start-up steps without the launch sequence: heap, storage of text
// values, file table, program list, document table and node pool.
// True when the heap exists afterwards.
bool runtime_init();
// The release step: every XML document freed, every file closed.
void runtime_end();
// The process's entry sequence: runtime_init, the given main sequence,
// runtime_end, heap destroyed, exit code 0. Never returns.
[[noreturn]] void runtime_start(void (*main_sequence)());

} // namespace quillgate
