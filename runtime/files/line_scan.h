// Finding where a line ends in a run of bytes: the first LF, CR or zero
// byte. The line reader spends most of its time here, so text is scanned
// many bytes at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/core/bytes.h"
#include "runtime/core/inline.h"

namespace quillgate::line_scan {

constexpr std::uint32_t CR = 13;
constexpr std::uint32_t LF = 10;

inline bool ends_line(std::uint8_t b) { return b == LF || b == CR || b == 0; }

// High bit set in every byte of `word` below `limit` (at most 128), given
// as that byte repeated. A borrow can also mark a byte above a true one,
// never one below it, so the lowest mark is exact.
constexpr std::uint64_t bytes_below(std::uint64_t word, std::uint64_t limit) {
    return (word - limit) & ~word & 0x8080808080808080u;
}

constexpr std::uint64_t every_byte(std::uint8_t b) { return 0x0101010101010101u * b; }

// Marks the LF, CR and zero bytes of a word; the lowest mark is exact.
constexpr std::uint64_t line_ends_in(std::uint64_t word) {
    return bytes_below(word, every_byte(1)) | bytes_below(word ^ every_byte(LF), every_byte(1)) |
           bytes_below(word ^ every_byte(CR), every_byte(1));
}

// The index of the first LF, CR or zero byte, or n. A per-byte loop made the
// scan the larger part of reading a line, so text is scanned many bytes at
// a time: one cheap test passes over text, which seldom holds bytes below
// 14 other than its line ends, and a closer look is taken only where it
// marks such a byte.
QUILLGATE_HOT_INLINE std::size_t find_line_end(const std::uint8_t* bytes, std::size_t n) {
    std::size_t k = 0;
#if defined(__SSE2__)
    // With SSE2 (every x86-64 processor), 32 bytes a step and 16 at the end;
    // the bytes up to CR are those that saturate to zero when CR is taken off.
    const __m128i cr = _mm_set1_epi8(static_cast<char>(CR));
    auto up_to_cr = [&](std::size_t at) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(chunk, cr), _mm_setzero_si128())));
    };
    while (k + 16 <= n) {
        bool pair = k + 32 <= n;
        std::uint32_t marks = pair ? up_to_cr(k) | up_to_cr(k + 16) << 16 : up_to_cr(k);
        for (; marks != 0; marks &= marks - 1) {
            std::size_t at = k + static_cast<std::size_t>(std::countr_zero(marks));
            if (ends_line(bytes[at])) return at;
        }
        k += pair ? 32 : 16;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; k + 16 <= n; k += 16) {
            std::uint64_t low = load_word(bytes + k);
            std::uint64_t high = load_word(bytes + k + 8);
            if ((bytes_below(low, every_byte(14)) | bytes_below(high, every_byte(14))) == 0) continue;
            if (std::uint64_t marks = line_ends_in(low))
                return k + static_cast<std::size_t>(std::countr_zero(marks)) / 8;
            if (std::uint64_t marks = line_ends_in(high))
                return k + 8 + static_cast<std::size_t>(std::countr_zero(marks)) / 8;
        }
        for (; k + 8 <= n; k += 8) {
            if (std::uint64_t marks = line_ends_in(load_word(bytes + k)))
                return k + static_cast<std::size_t>(std::countr_zero(marks)) / 8;
        }
    }
    while (k < n && !ends_line(bytes[k])) ++k;
    return k;
}

// The index of the first byte that ends a line, or n: LF, CR or zero, or,
// with line ends ignored, only zero.
inline std::size_t find_stop(const std::uint8_t* bytes, std::size_t n, bool raw) {
    if (!raw) return find_line_end(bytes, n);
    const void* zero = std::memchr(bytes, 0, n);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes) : n;
}

} // namespace quillgate::line_scan
