// How an 8-bit tree holds characters: the one form each character has, and
// the way back from it to the characters themselves.
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

// The byte of the declared set that means `c` alone, or 0.
unsigned char charset_byte(const xml_document* document, std::uint32_t c) {
    if (c > 0xFFFF) return 0;
    for (int k = 0; k < charset_high_bytes; ++k)
        if (document->charset_bytes[k] == c) return static_cast<unsigned char>(0x80 + k);
    return 0;
}

// The character a byte from 0x80 up means in the document's encoding, or 0
// for none.
std::uint32_t byte_meaning(const xml_document* document, unsigned char b) {
    if (document->held_form == XML_HELD_CHARSET) return document->charset_bytes[b - 0x80];
    return b;
}

} // namespace

int xml_hold_character(const xml_document* document, std::uint32_t code_point, char* out) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    std::int32_t form = document != nullptr ? document->held_form : XML_HELD_LATIN1;
    if (form == XML_HELD_UTF8) return utf8_encode(code_point, out);
    if (form == XML_HELD_CHARSET) {
        if (unsigned char b = charset_byte(document, code_point)) {
            out[0] = static_cast<char>(b);
            return 1;
        }
    } else if (code_point <= 0xFF) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    out[0] = xml_held_marker;
    return 1 + utf8_encode(code_point, out + 1);
}

bool xml_held_to_utf16(const xml_document* document, const char* held, std::size_t size, text* utf16) {
    // At most two units a byte (a marker and one byte stand for a pair).
    auto* units = static_cast<std::uint16_t*>(heap_alloc(4 * size + 2));
    if (units == nullptr) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(held);
    std::size_t count = 0;
    for (std::size_t i = 0; i < size;) {
        std::size_t length = 1;
        std::uint32_t c = bytes[i];
        if (c == static_cast<unsigned char>(xml_held_marker)) {
            // A held character is never ASCII: the marker before "&" holds
            // an entity reference, which means no known character.
            c = utf8_decode(bytes + i + 1, size - i - 1, &length);
            length = length > 0 && c >= 0x80 ? length + 1 : 0;
        } else if (c >= 0x80 && document->held_form == XML_HELD_UTF8) {
            c = utf8_decode(bytes + i, size - i, &length);
        } else if (c >= 0x80) {
            c = byte_meaning(document, bytes[i]);
        }
        if (length == 0 || c == 0) {
            heap_free(units);
            *utf16 = text();
            return true;
        }
        if (c >= 0x10000) {
            units[count++] = static_cast<std::uint16_t>(0xD800 | ((c - 0x10000) >> 10));
            units[count++] = static_cast<std::uint16_t>(0xDC00 | ((c - 0x10000) & 0x3FF));
        } else {
            units[count++] = static_cast<std::uint16_t>(c);
        }
        i += length;
    }
    units[count] = 0;
    *utf16 = text::adopt(reinterpret_cast<char*>(units), 2 * count);
    return true;
}

} // namespace quillgate
