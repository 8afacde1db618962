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

// UTF-8 to one byte per character; stops at a zero byte. A character above
// U+00FF is "?", and so is each ill-formed part: the longest start of a
// sequence that the Unicode table of well-formed UTF-8 allows, or one byte.
inline std::string reference_utf8_to_latin1(std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = in[i];
        // The table: a lead byte's sequence length and its second byte's range.
        const std::size_t length = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
        const unsigned low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const unsigned high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        std::uint32_t code = length == 1 ? b : b & (0xFFu >> (length + 1));
        std::size_t used = 1;
        for (; used < length && i + used < size; ++used) {
            const unsigned next = in[i + used];
            if (next < (used == 1 ? low : 0x80) || next > (used == 1 ? high : 0xBF)) break;
            code = code << 6 | (next & 0x3F);
        }
        i += used;
        const std::uint32_t value = used == length && code <= 0xFF ? code : '?';
        if (value == 0) break;
        out += static_cast<char>(value);
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
