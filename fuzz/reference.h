// Straightforward restatements of the byte rules the runtime follows, written
// for clarity rather than speed, to check the real thing against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillgate::fuzz {

inline bool is_continuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

// UTF-8 to one byte per character; stops at a decoded zero.
inline std::string reference_utf8_to_latin1(const unsigned char* in, std::size_t size) {
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        unsigned char b = in[i];
        std::size_t after = size - i - 1;
        int value = -1; // -1: nothing output
        std::size_t used = 1;
        if (b <= 0x7F) {
            value = b;
        } else if (b >= 0xC0 && b <= 0xDF && after >= 1) {
            if (is_continuation(in[i + 1])) {
                int code = ((b & 0x1F) << 6) | (in[i + 1] & 0x3F);
                value = code < 256 ? code : '?';
                used = 2;
            } else {
                value = '?';
            }
        } else if (b >= 0xE0 && b <= 0xEF && after >= 2) {
            value = '?';
            if (is_continuation(in[i + 1])) used = is_continuation(in[i + 2]) ? 3 : 2;
        } else if (b >= 0xF0 && b <= 0xF7 && after >= 3) {
            value = '?';
            while (used < 4 && is_continuation(in[i + used])) ++used;
        }
        i += used;
        if (value == 0) break;
        if (value > 0) out += static_cast<char>(value);
    }
    return out;
}

inline std::string reference_latin1_to_utf8(const unsigned char* in, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char b = in[i];
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

} // namespace quillgate::fuzz
