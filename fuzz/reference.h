// Straightforward restatements of the byte rules the runtime follows, written
// for clarity rather than speed, to check the real thing against.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillgate::fuzz {

// One line by the line reader's rules from `at` of `bytes`, moving `at` past
// it: up to a zero byte or, unless raw, CR or LF, a CR LF pair taken whole.
inline std::string reference_line(std::string_view bytes, std::size_t& at, bool raw) {
    using namespace std::string_view_literals;
    std::size_t end = std::min(bytes.find_first_of(raw ? "\0"sv : "\r\n\0"sv, at), bytes.size());
    std::string line(bytes.substr(at, end - at));
    at = end + (end < bytes.size()) + (!raw && bytes.substr(end, 2) == "\r\n");
    return line;
}

// Each byte followed by a zero byte: UTF-16LE of ISO-8859-1 text.
inline std::string widen(std::string_view narrow) {
    std::string out;
    for (char c : narrow) out += {c, '\0'};
    return out;
}

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
        if (b < 0x80) out += static_cast<char>(b);
        else out += {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
    }
    return out;
}

} // namespace quillgate::fuzz
