// The countdown behind fault injection: after a number of operations have
// succeeded, the next one fails, once or from then on. The heap counts
// allocations with one, the file primitives I/O calls with another.
#pragma once

#include <atomic>

namespace quillgate {

class fault_countdown {
public:
    // A negative count switches injection off.
    void arm(long successes, bool persistent) {
        persistent_.store(persistent);
        fired_.store(false);
        left_.store(successes < 0 ? -1 : successes);
    }
    // Whether an injected failure happened since the last arm.
    bool fired() const { return fired_.load(); }
    // True when the operation now starting must fail.
    bool hit() {
        long left = left_.load(std::memory_order_relaxed);
        while (left >= 0) {
            if (left == 0) {
                if (!persistent_.load(std::memory_order_relaxed)) left_.store(-1);
                fired_.store(true);
                return true;
            }
            if (left_.compare_exchange_weak(left, left - 1)) return false;
        }
        return false;
    }

private:
    std::atomic<long> left_{-1};
    std::atomic<bool> persistent_{false};
    std::atomic<bool> fired_{false};
};

} // namespace quillgate
