// The runtime frame: start-up and shutdown around the launch sequence.
#pragma once

namespace quillgate {

// The start-up steps without the launch sequence: heap, storage of text
// values, file table, program list, document table and node pool.
// True when the heap exists afterwards.
bool runtime_init();
// The release step: every XML document freed, every file closed. Runs at
// most once per runtime_init, whichever thread asks first.
void runtime_end();
// The process's entry sequence: runtime_init, the given main sequence,
// runtime_end, heap destroyed, exit code 0. Never returns.
[[noreturn]] void runtime_start(void (*main_sequence)());

// Work on files and documents that must not overlap runtime_end (which the
// console's close event may run on a thread of its own) happens between these
// two. runtime_work_begin waits for a runtime_end under way and gives false
// when the release step has already run; then nothing may be touched.
bool runtime_work_begin();
void runtime_work_end();

} // namespace quillgate
