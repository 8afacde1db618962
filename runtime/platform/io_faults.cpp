// The I/O fault countdown shared by every file and pipe primitive of both
// platforms: tests use it to make the n-th transfer from now fail.
#include <atomic>

#include "runtime/platform/file_io.h"

namespace quillgate {

namespace {

// Operations still to succeed before the injected failure; negative: off.
std::atomic<long> io_countdown{-1};
std::atomic<bool> io_persistent{false};
std::atomic<bool> io_fired{false};

} // namespace

void io_fail_after(long successes, bool persistent) {
    io_persistent.store(persistent);
    io_fired.store(false);
    io_countdown.store(successes < 0 ? -1 : successes);
}

bool io_fault_fired() { return io_fired.load(); }

bool io_fault_hit() {
    long left = io_countdown.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) {
            if (!io_persistent.load(std::memory_order_relaxed)) io_countdown.store(-1);
            io_fired.store(true);
            return true;
        }
        if (io_countdown.compare_exchange_weak(left, left - 1)) return false;
    }
    return false;
}

} // namespace quillgate
