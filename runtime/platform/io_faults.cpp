// The I/O fault countdown shared by every file and pipe primitive of both
// platforms: tests use it to make the n-th transfer from now fail.
#include "runtime/platform/file_io.h"

#include "runtime/platform/fault_countdown.h"

namespace quillgate {

namespace {

fault_countdown io_faults;

} // namespace

void io_fail_after(long successes, bool persistent) { io_faults.arm(successes, persistent); }

bool io_fault_fired() { return io_faults.fired(); }

bool io_fault_hit() { return io_faults.hit(); }

} // namespace quillgate
