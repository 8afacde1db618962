// Conversions between the program's 8-bit text and the encodings of files:
// UTF-8 maps to Latin-1 by code point, UTF-16 goes through the ANSI code page.
#include "runtime/files/convert.h"

#include <climits>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/text_codepage.h"
#include "runtime/platform/utf8.h"

namespace quillgate {

namespace {

// One step of the UTF-8 reader: how many bytes it consumes and the output
// byte. A character outside Latin-1 becomes "?", and so does each ill-formed
// part, one for each, as the system's own conversion substitutes them.
struct utf8_step {
    std::size_t consumed;
    unsigned char byte;
};

utf8_step step_at(const unsigned char* bytes, std::size_t at, std::size_t size) {
    if (bytes[at] < 0x80) return {1, bytes[at]};
    std::size_t length = 0;
    std::uint32_t c = utf8_decode(bytes + at, size - at, &length);
    if (length == 0) return {utf8_ill_formed_length(bytes + at, size - at), '?'};
    return {length, c <= 0xFF ? static_cast<unsigned char>(c) : static_cast<unsigned char>('?')};
}

} // namespace

std::size_t utf8_to_latin1_length(const char* bytes, std::size_t size) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t length = 0;
    for (std::size_t at = 0; at < size;) {
        at += step_at(in, at, size).consumed;
        ++length;
    }
    return length;
}

std::size_t utf8_to_latin1_into(const char* bytes, std::size_t size, char* into) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t length = 0;
    for (std::size_t at = 0; at < size;) {
        utf8_step step = step_at(in, at, size);
        at += step.consumed;
        // A zero byte ends the text.
        if (step.byte == 0) break;
        into[length++] = static_cast<char>(step.byte);
    }
    into[length] = 0;
    return length;
}

text utf8_to_latin1(const char* bytes, std::size_t size) {
    if (bytes == nullptr) size = 0;
    std::size_t length = utf8_to_latin1_length(bytes, size);
    auto* block = static_cast<char*>(heap_alloc(length + 1));
    if (block == nullptr) return {};
    std::size_t used = utf8_to_latin1_into(bytes, size, block);
    return text::adopt(block, used);
}

std::size_t latin1_to_utf8_into(const char* bytes, std::size_t size, char* into) {
    std::size_t out = 0;
    for (std::size_t at = 0; at < size; ++at) {
        auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte < 0x80) {
            into[out++] = static_cast<char>(byte);
        } else {
            into[out++] = static_cast<char>(0xC0 | (byte >> 6));
            into[out++] = static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

text latin1_to_utf8(const char* bytes, std::size_t size) {
    if (bytes == nullptr) size = 0;
    if (size > (SIZE_MAX - 1) / 2) return {};
    auto* block = static_cast<char*>(heap_alloc(2 * size + 1));
    if (block == nullptr) return {};
    std::size_t used = latin1_to_utf8_into(bytes, size, block);
    block[used] = 0;
    return text::adopt(block, used);
}

namespace {

using to_wide_call = int (*)(const char*, int, std::uint16_t*, int);
using from_wide_call = int (*)(const std::uint16_t*, int, char*, int);

// size bytes to UTF-16 little-endian bytes through a system call of the
// Win32 kind; empty when it gives nothing.
text to_wide(to_wide_call convert, const char* bytes, std::size_t size) {
    if (bytes == nullptr || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return {};
    int units = convert(bytes, static_cast<int>(size), nullptr, 0);
    if (units <= 0 || units > INT_MAX / 2 - 1) return {};
    auto* block = static_cast<std::uint16_t*>(heap_alloc(2 * static_cast<std::size_t>(units) + 2));
    if (block == nullptr) return {};
    int written = convert(bytes, static_cast<int>(size), block, units);
    if (written <= 0) {
        heap_free(block);
        return {};
    }
    block[written] = 0;
    return text::adopt(reinterpret_cast<char*>(block), 2 * static_cast<std::size_t>(written));
}

// The other way round.
text from_wide(from_wide_call convert, const std::uint16_t* units, std::size_t count) {
    if (units == nullptr || count == 0 || count > static_cast<std::size_t>(INT_MAX)) return {};
    int size = convert(units, static_cast<int>(count), nullptr, 0);
    if (size <= 0 || size == INT_MAX) return {};
    auto* block = static_cast<char*>(heap_alloc(static_cast<std::size_t>(size) + 1));
    if (block == nullptr) return {};
    int written = convert(units, static_cast<int>(count), block, size);
    if (written <= 0) {
        heap_free(block);
        return {};
    }
    block[written] = 0;
    return text::adopt(block, static_cast<std::size_t>(written));
}

} // namespace

text ansi_to_utf16(const char* ansi) {
    if (ansi == nullptr) return {};
    // The length counts the terminating unit.
    int units = os_ansi_to_wide(ansi, -1, nullptr, 0);
    if (units <= 1 || units > INT_MAX / 2 - 1) return {};
    auto* block = static_cast<std::uint16_t*>(heap_alloc(2 * static_cast<std::size_t>(units) + 2));
    if (block == nullptr) return {};
    int written = os_ansi_to_wide(ansi, -1, block, units);
    if (written <= 1) {
        heap_free(block);
        return {};
    }
    // The terminating unit stays in the block after the text's bytes, so
    // the text is NUL-terminated as every text must be.
    block[written - 1] = 0;
    return text::adopt(reinterpret_cast<char*>(block), 2 * static_cast<std::size_t>(written - 1));
}

text utf16_to_ansi(const std::uint16_t* units, std::size_t count) {
    text bytes = from_wide(os_wide_to_ansi, units, count);
    // A unit of zero ends the text there.
    return text::copy(bytes.c_str(), std::strlen(bytes.c_str()));
}

text legacy_ansi_to_ansi(const char* legacy, std::size_t size) {
    text wide = to_wide(os_legacy_ansi_to_wide, legacy, size);
    return utf16_to_ansi(reinterpret_cast<const std::uint16_t*>(wide.c_str()), wide.size() / 2);
}

text ansi_to_utf8(const char* ansi) {
    if (ansi == nullptr) return {};
    int units = os_ansi_to_wide(ansi, -1, nullptr, 0);
    if (units <= 0) return {};
    auto* wide = static_cast<std::uint16_t*>(heap_alloc(2 * static_cast<std::size_t>(units)));
    if (wide == nullptr) return {};
    text result;
    int written = os_ansi_to_wide(ansi, -1, wide, units);
    if (written > 0) {
        // Both lengths count the terminator.
        int size = os_wide_to_utf8(wide, written, nullptr, 0);
        auto* block = size > 0 ? static_cast<char*>(heap_alloc(static_cast<std::size_t>(size))) : nullptr;
        if (block != nullptr) {
            int made = os_wide_to_utf8(wide, written, block, size);
            if (made > 0) {
                block[made - 1] = 0;
                result = text::adopt(block, static_cast<std::size_t>(made - 1));
            } else {
                heap_free(block);
            }
        }
    }
    heap_free(wide);
    return result;
}

text utf8_to_utf16(const char* bytes, std::size_t size) { return to_wide(os_utf8_to_wide, bytes, size); }

text utf16_to_utf8(const std::uint16_t* units, std::size_t count) { return from_wide(os_wide_to_utf8, units, count); }

} // namespace quillgate
