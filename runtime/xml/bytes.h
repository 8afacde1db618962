// Short copies shared by the loader and the saver, where names, values and
// pieces of text are mostly a few bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/core/inline.h"

namespace quillgate {

// Copies n bytes, 0 < n < 8, as two overlapping halves or as single bytes,
// reading none past them. Returns the bytes read ORed together, whose 0x80
// bits tell whether any of them was 0x80 or above.
QUILLGATE_HOT_INLINE std::uint32_t copy_below_8(void* to, const void* from, std::size_t n) {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, in, 4);
        std::memcpy(&tail, in + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
        return head | tail;
    }
    out[0] = in[0];
    out[n / 2] = in[n / 2];
    out[n - 1] = in[n - 1];
    return in[0] | in[n / 2] | in[n - 1];
}

} // namespace quillgate
