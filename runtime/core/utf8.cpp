#include "runtime/core/utf8.h"

namespace quillgate {

std::uint32_t utf8_decode(const unsigned char* bytes, std::size_t size, std::size_t* length) {
    *length = 0;
    if (size == 0) return 0;
    unsigned char b = bytes[0];
    if (b < 0x80) {
        *length = 1;
        return b;
    }
    std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || size < n) return 0;
    // The second byte's range rules out overlong forms, surrogates and
    // values above U+10FFFF.
    unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (bytes[1] < low || bytes[1] > high) return 0;
    std::uint32_t c = b & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if (bytes[k] < 0x80 || bytes[k] > 0xBF) return 0;
        c = (c << 6) | (bytes[k] & 0x3Fu);
    }
    *length = n;
    return c;
}

bool utf8_well_formed(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t length = 0;
        utf8_decode(data + at, bytes.size() - at, &length);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

int utf8_encode(std::uint32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

} // namespace quillgate
