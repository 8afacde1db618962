// The ANSI code page on POSIX is the locale's UTF-8, so both directions are
// a UTF-8 <-> UTF-16 codec with the Win32 calls' buffer conventions.
// Undecodable input becomes U+FFFD, one per maximal ill-formed part, as
// MultiByteToWideChar does for UTF-8; a lone surrogate becomes "?", the
// substitute the Win32 call uses for what the target cannot hold.
#include <cstddef>
#include <cstring>

#include "runtime/platform/text_codepage.h"

namespace quillgate {

namespace {

constexpr std::uint32_t replacement = 0xFFFD;

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

// Decodes one code point at `at`; sets `consumed` to the bytes it used.
std::uint32_t decode(const unsigned char* bytes, std::size_t at, std::size_t size, std::size_t& consumed) {
    unsigned char lead = bytes[at];
    consumed = 1;
    if (lead < 0x80) return lead;
    std::size_t followers;
    std::uint32_t value;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (in_range(lead, 0xC2, 0xDF)) {
        followers = 1;
        value = lead & 0x1Fu;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        followers = 2;
        value = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (in_range(lead, 0xF0, 0xF4)) {
        followers = 3;
        value = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return replacement;
    }
    for (std::size_t k = 1; k <= followers; ++k) {
        if (at + k >= size || !in_range(bytes[at + k], low, high)) return replacement;
        value = (value << 6) | (bytes[at + k] & 0x3Fu);
        consumed = k + 1;
        low = 0x80;
        high = 0xBF;
    }
    return value;
}

// Encodes one code point as UTF-8 into `out` (4 bytes); the byte count.
int encode(std::uint32_t value, unsigned char* out) {
    if (value < 0x80) {
        out[0] = static_cast<unsigned char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 4;
}

} // namespace

int os_utf8_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units) {
    if (source == nullptr || source_length == 0 || source_length < -1 || into_units < 0) return 0;
    std::size_t size = source_length == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(source_length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    long count = 0;
    for (std::size_t at = 0; at < size;) {
        std::size_t consumed = 0;
        std::uint32_t value = decode(bytes, at, size, consumed);
        at += consumed;
        long need = value >= 0x10000 ? 2 : 1;
        if (into_units != 0) {
            // Too small a destination fails as a whole, as on Windows.
            if (count + need > into_units) return 0;
            if (need == 2) {
                value -= 0x10000;
                into[count] = static_cast<std::uint16_t>(0xD800 | (value >> 10));
                into[count + 1] = static_cast<std::uint16_t>(0xDC00 | (value & 0x3FF));
            } else {
                into[count] = static_cast<std::uint16_t>(value);
            }
        }
        count += need;
        if (count > 0x7FFFFFFF - 2) return 0;
    }
    return static_cast<int>(count);
}

int os_wide_to_utf8(const std::uint16_t* source, int source_units, char* into, int into_bytes) {
    if (source == nullptr || source_units == 0 || source_units < -1 || into_bytes < 0) return 0;
    std::size_t size = 0;
    if (source_units == -1) {
        while (source[size] != 0) ++size;
        ++size;
    } else {
        size = static_cast<std::size_t>(source_units);
    }
    long count = 0;
    for (std::size_t at = 0; at < size; ++at) {
        std::uint32_t value = source[at];
        if (value >= 0xD800 && value <= 0xDBFF && at + 1 < size && source[at + 1] >= 0xDC00 &&
            source[at + 1] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (source[at + 1] - 0xDC00u);
            ++at;
        } else if (value >= 0xD800 && value <= 0xDFFF) {
            value = '?';
        }
        unsigned char encoded[4];
        int need = encode(value, encoded);
        if (into_bytes != 0) {
            if (count + need > into_bytes) return 0;
            std::memcpy(into + count, encoded, static_cast<std::size_t>(need));
        }
        count += need;
        if (count > 0x7FFFFFFF - 4) return 0;
    }
    return static_cast<int>(count);
}

int os_ansi_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units) {
    return os_utf8_to_wide(source, source_length, into, into_units);
}

// The locale's UTF-8 is the only code page there has been.
int os_legacy_ansi_to_wide(const char*, int, std::uint16_t*, int) { return 0; }

int os_wide_to_ansi(const std::uint16_t* source, int source_units, char* into, int into_bytes) {
    return os_wide_to_utf8(source, source_units, into, into_bytes);
}

} // namespace quillgate
