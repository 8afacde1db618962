// Reading and copying bytes a word at a time, for the scans of the line
// reader, the loader and the saver. Names, values and pieces of text are
// mostly a few bytes long, so short ones are taken as two overlapping
// halves rather than byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/core/inline.h"

namespace quillgate {

// Eight bytes from any address, in the machine's order.
inline std::uint64_t load_word(const void* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The n bytes at `from`, 0 < n < 8, read without going past them: from 4
// up, the first four and the last four (overlapping below 8) as the low and
// the high half; below 4, the first, middle and last byte in the low three.
// Two texts of the same length read alike only when they are alike.
QUILLGATE_HOT_INLINE std::uint64_t read_below_8(const void* from, std::size_t n) {
    const auto* in = static_cast<const unsigned char*>(from);
    if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, in, 4);
        std::memcpy(&tail, in + n - 4, 4);
        return head | static_cast<std::uint64_t>(tail) << 32;
    }
    return in[0] | static_cast<std::uint64_t>(in[n / 2]) << 8 | static_cast<std::uint64_t>(in[n - 1]) << 16;
}

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
