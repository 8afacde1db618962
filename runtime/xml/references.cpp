// Characters the parser decoded from references, told apart from those the
// file spells in bytes. An 8-bit load reads the file as ISO-8859-1, so the
// parser hands over a byte 0xE9 and a reference &#xE9; alike; the file's
// own bytes stay as they are, and only a reference takes the form its
// document holds it in. The parser keeps the raw bytes of its current
// event, which tell the two apart.
#include "runtime/xml/references.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "runtime/core/heap.h"
#include "runtime/files/files.h"
#include "runtime/platform/charset.h"
#include "runtime/platform/utf8.h"

namespace quillgate {

namespace {

bool any_label(const char* name, std::initializer_list<const char*> labels) {
    for (const char* label : labels)
        if (xml_same_label(name, label)) return true;
    return false;
}

// The parser's current event, as the file spelt it.
std::string_view raw_event(const xml_document* document) {
    auto parser = static_cast<XML_Parser>(document->parser);
    if (parser == nullptr) return {};
    int offset = 0;
    int size = 0;
    const char* context = XML_GetInputContext(parser, &offset, &size);
    int length = XML_GetCurrentByteCount(parser);
    if (context == nullptr || offset < 0 || length <= 0 || offset + length > size) return {};
    return {context + offset, static_cast<std::size_t>(length)};
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The raw value of the index-th attribute of a start tag, or empty.
std::string_view raw_attribute(std::string_view tag, int index) {
    std::size_t at = 1;
    while (at < tag.size() && !is_space(tag[at]) && tag[at] != '/' && tag[at] != '>') ++at;
    for (int k = 0;; ++k) {
        while (at < tag.size() && is_space(tag[at])) ++at;
        std::size_t equals = tag.find('=', at);
        if (at >= tag.size() || tag[at] == '/' || tag[at] == '>' || equals == std::string_view::npos) return {};
        at = equals + 1;
        while (at < tag.size() && is_space(tag[at])) ++at;
        if (at >= tag.size() || (tag[at] != '"' && tag[at] != '\'')) return {};
        std::size_t end = tag.find(tag[at], at + 1);
        if (end == std::string_view::npos) return {};
        if (k == index) return tag.substr(at + 1, end - at - 1);
        at = end + 1;
    }
}

// The character a reference's digits name ("#233", "#xE9"), or 0.
std::uint32_t reference_value(std::string_view digits) {
    if (digits.size() < 2 || digits[0] != '#') return 0;
    bool hex = digits[1] == 'x';
    std::uint32_t value = 0;
    for (std::size_t k = hex ? 2 : 1; k < digits.size(); ++k) {
        char c = digits[k];
        int digit = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
        if (digit < 0 || value > 0x10FFFF) return 0;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    return value <= 0x10FFFF ? value : 0;
}

char predefined_entity(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    return 0;
}

// One character of an entity's replacement text at utf8[0, size), from
// U+0080 to U+00FF, as a UTF-8 tree holds it: where it and the characters
// after it are bytes of one UTF-8 sequence, the file spelt them so and they
// stay bytes; otherwise a reference gave it. The count, and in `consumed`
// the input bytes taken.
int hold_expanded(const unsigned char* utf8, std::size_t size, char* out, std::size_t* consumed) {
    unsigned char bytes[4];
    std::size_t ends[4];
    std::size_t count = 0;
    std::size_t at = 0;
    // The next characters up to U+00FF as the bytes they were read from.
    while (count < 4 && at + 1 < size && (utf8[at] == 0xC2 || utf8[at] == 0xC3)) {
        bytes[count] = static_cast<unsigned char>(((utf8[at] & 0x03u) << 6) | (utf8[at + 1] & 0x3Fu));
        at += 2;
        ends[count++] = at;
    }
    std::size_t length = 0;
    utf8_decode(bytes, count, &length);
    if (length > 1) {
        std::memcpy(out, bytes, length);
        *consumed = ends[length - 1];
        return static_cast<int>(length);
    }
    *consumed = 2;
    out[0] = static_cast<char>(utf8[0]);
    out[1] = static_cast<char>(utf8[1]);
    return 2;
}

// The held form of a character the parser gave: `reference` tells whether a
// reference spelt it.
int hold_parsed(const xml_document* document, std::uint32_t code_point, bool reference, char* out) {
    // An 8-bit file spells only characters up to U+00FF, each as its byte.
    if (!reference && code_point <= 0xFF) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    return xml_hold_character(document, code_point, out);
}

// The value as the parser normalised it (white space to spaces, a CR LF to
// one), with references held as the document holds them, into `out`
// (2 * raw.size() bytes); the bytes written and, in `characters`, how many
// characters they stand for. Returns -1 for an entity it cannot expand.
long rebuild_from_raw(const xml_document* document, std::string_view raw, char* out, std::size_t* characters) {
    std::size_t written = 0;
    *characters = 0;
    for (std::size_t at = 0; at < raw.size(); ++(*characters)) {
        char b = raw[at];
        if (b == '&') {
            std::size_t end = raw.find(';', at);
            if (end == std::string_view::npos) return -1;
            std::string_view name = raw.substr(at + 1, end - at - 1);
            at = end + 1;
            if (char c = predefined_entity(name)) {
                out[written++] = c;
                continue;
            }
            std::uint32_t value = reference_value(name);
            if (value == 0) return -1;
            written += static_cast<std::size_t>(hold_parsed(document, value, true, out + written));
            continue;
        }
        ++at;
        if (b == '\r' && at < raw.size() && raw[at] == '\n') ++at;
        out[written++] = b == '\r' || b == '\n' || b == '\t' ? ' ' : b;
    }
    return static_cast<long>(written);
}

// Fallback: the characters as the parser gave them, those up to U+00FF
// taken for the file's own bytes where they spell UTF-8 in a UTF-8 tree
// (an entity's text may hold both), and for its bytes in any other.
std::size_t hold_decoded(const xml_document* document, const char* utf8, char* out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8);
    std::size_t size = std::strlen(utf8);
    std::size_t written = 0;
    for (std::size_t at = 0; at < size;) {
        std::size_t length = 0;
        std::uint32_t c = utf8_decode(bytes + at, size - at, &length);
        if (length == 0) {
            c = '?';
            length = 1;
        }
        written += static_cast<std::size_t>(
            xml_hold_given(document, c, bytes + at, size - at, XML_EVENT_ENTITY, out + written, &length));
        at += length;
    }
    return written;
}

std::size_t characters_in(const char* utf8) {
    std::size_t count = 0;
    for (const char* p = utf8; *p != '\0'; ++p)
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++count;
    return count;
}

} // namespace

bool xml_same_label(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
        char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

void xml_choose_held_form(xml_document* document, const char* declared, bool utf16_file, bool utf8_mark) {
    std::memset(document->charset_bytes, 0, sizeof document->charset_bytes);
    const bool eight_bit_load = document->encoding_fixed != 0 && document->encoding == ENCODING_8BIT;
    const bool utf16_label = declared != nullptr && any_label(declared, {"UTF-16", "UTF-16LE", "UTF-16BE"});
    document->keeps_declared_name = eight_bit_load && !utf16_file && !utf16_label ? 1 : 0;
    if (!eight_bit_load || utf16_file) {
        document->held_form = XML_HELD_LATIN1;
    } else if (utf8_mark || declared == nullptr || xml_same_label(declared, "UTF-8")) {
        document->held_form = XML_HELD_UTF8;
    } else if (utf16_label || any_label(declared, {"ISO-8859-1", "ISO_8859-1", "latin1", "l1"})) {
        document->held_form = XML_HELD_LATIN1;
    } else {
        document->held_form = XML_HELD_CHARSET;
        os_charset_high_bytes(declared, document->charset_bytes);
    }
}

int xml_event_kind(const xml_document* document) {
    std::string_view raw = raw_event(document);
    if (raw.size() < 3 || raw[0] != '&') return XML_EVENT_TEXT;
    return raw[1] == '#' ? XML_EVENT_CHARACTER_REFERENCE : XML_EVENT_ENTITY;
}

int xml_hold_given(const xml_document* document, std::uint32_t code_point, const unsigned char* utf8, std::size_t size,
                   int event, char* out, std::size_t* consumed) {
    if (code_point >= 0x80 && code_point <= 0xFF && event == XML_EVENT_ENTITY && document->held_form == XML_HELD_UTF8)
        return hold_expanded(utf8, size, out, consumed);
    return hold_parsed(document, code_point, code_point > 0xFF || event == XML_EVENT_CHARACTER_REFERENCE, out);
}

bool xml_hold_attribute_value(const xml_document* document, const char* utf8, int index, text* held) {
    std::string_view raw;
    if (document->held_form != XML_HELD_LATIN1) raw = raw_attribute(raw_event(document), index);
    std::size_t size = std::strlen(utf8);
    std::size_t room = std::max(xml_held_max * size, 2 * raw.size()) + 1;
    auto* out = static_cast<char*>(heap_alloc(room));
    if (out == nullptr) return false;
    std::size_t characters = 0;
    long written = raw.empty() ? -1 : rebuild_from_raw(document, raw, out, &characters);
    // The raw value must stand for the very characters the parser gave, or
    // the parser read it otherwise (a default, an entity's text).
    if (written < 0 || characters != characters_in(utf8))
        written = static_cast<long>(hold_decoded(document, utf8, out));
    out[written] = '\0';
    *held = text::adopt(out, static_cast<std::size_t>(written));
    return true;
}

} // namespace quillgate
