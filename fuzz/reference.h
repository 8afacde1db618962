// Straightforward restatements of the byte rules the runtime follows, written
// for clarity rather than speed, to check the real thing against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillgate::fuzz {

inline bool is_continuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

// UTF-8 to one byte per character; stops at a decoded zero.
inline std::string reference_utf8_to_latin1(std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        unsigned char b = in[i];
        int value = b <= 0x7F ? b : -1; // -1: nothing output
        std::size_t used = 1;
        // A lead byte with room for its whole sequence takes the continuation
        // bytes that follow, up to its length, and gives a character; only a
        // whole two-byte sequence below 256 is itself, anything else is "?".
        std::size_t length = b >= 0xF8 ? 0 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        if (length != 0 && size - i >= length) {
            while (used < length && is_continuation(in[i + used])) ++used;
            int code = ((b & 0x1F) << 6) | (in[i + 1] & 0x3F);
            value = length == 2 && used == 2 && code < 256 ? code : '?';
        }
        i += used;
        if (value == 0) break;
        if (value > 0) out += static_cast<char>(value);
    }
    return out;
}

// A byte from 0x80 up is two: its top two bits, then the rest.
inline std::string reference_latin1_to_utf8(std::string_view text) {
    std::string out;
    for (unsigned char b : text) {
        if (b >= 0x80) out += static_cast<char>(0xC0 | (b >> 6)), b = static_cast<unsigned char>(0x80 | (b & 0x3F));
        out += static_cast<char>(b);
    }
    return out;
}

} // namespace quillgate::fuzz
