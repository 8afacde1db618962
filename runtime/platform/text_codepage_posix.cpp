// The ANSI code page on POSIX is the locale's UTF-8, so both directions are
// a UTF-8 <-> UTF-16 codec with the Win32 calls' buffer conventions.
// Undecodable input becomes U+FFFD, one per maximal ill-formed part, as
// MultiByteToWideChar does for UTF-8; a lone surrogate becomes "?", the
// substitute the Win32 call uses for what the target cannot hold.
#include <cstddef>
#include <cstring>

#include "runtime/platform/text_codepage.h"
#include "runtime/platform/utf8.h"

namespace quillgate {

namespace {

constexpr std::uint32_t replacement = 0xFFFD;

// Decodes one code point at `at`; sets `consumed` to the bytes it used, a
// whole ill-formed part for the replacement character.
std::uint32_t decode(const unsigned char* bytes, std::size_t at, std::size_t size, std::size_t& consumed) {
    std::uint32_t value = utf8_decode(bytes + at, size - at, &consumed);
    if (consumed != 0) return value;
    consumed = utf8_ill_formed_length(bytes + at, size - at);
    return replacement;
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
        char encoded[4];
        int need = utf8_encode(value, encoded);
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
