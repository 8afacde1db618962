#include "runtime/platform/utf8.h"

namespace quillgate {

namespace {

// The length of the sequence a lead byte starts; 0 for a byte that starts
// none (a continuation byte, C0, C1, F5 and up).
std::size_t announced_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// How many of the first `wanted` bytes the table allows after this lead.
// The second byte's range rules out overlong forms, surrogates and values
// above U+10FFFF; later ones are any continuation byte.
std::size_t allowed_bytes(const unsigned char* bytes, std::size_t size, std::size_t wanted) {
    unsigned char lead = bytes[0];
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    std::size_t k = 1;
    for (; k < wanted && k < size; ++k) {
        if (bytes[k] < low || bytes[k] > high) break;
        low = 0x80;
        high = 0xBF;
    }
    return k;
}

} // namespace

std::uint32_t utf8_decode(const unsigned char* bytes, std::size_t size, std::size_t* length) {
    *length = 0;
    if (size == 0) return 0;
    unsigned char lead = bytes[0];
    if (lead < 0x80) {
        *length = 1;
        return lead;
    }
    std::size_t n = announced_length(lead);
    if (n == 0 || allowed_bytes(bytes, size, n) < n) return 0;
    std::uint32_t c = lead & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (bytes[k] & 0x3Fu);
    *length = n;
    return c;
}

std::size_t utf8_ill_formed_length(const unsigned char* bytes, std::size_t size) {
    std::size_t n = announced_length(bytes[0]);
    return n == 0 ? 1 : allowed_bytes(bytes, size, n);
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
