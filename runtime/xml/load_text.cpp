// Character data into the tree: the text handler and the appending it
// shares with the other handlers.
#include "runtime/xml/load_state.h"

#include "runtime/core/bytes.h"
#include "runtime/core/inline.h"
#include "runtime/files/convert.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/references.h"

namespace quillgate {
namespace loader {

namespace {

// Whether a word's bytes are all below 0x80 and none is a line feed.
bool plain_word(std::uint64_t word) {
    std::uint64_t feeds = word ^ (low_bits * '\n');
    return ((word | ((feeds - low_bits) & ~feeds)) & high_bits) == 0;
}

// One character of text from the parser, at in[*at], as the tree holds it;
// *at moves to its last byte. Element text holds every character; what
// another node's text cannot hold as a byte becomes "?" or a space (the
// saver has no way to write it there), and counts as lost.
// `event` is the current event's kind once looked up (-1 before).
[[gnu::noinline]] std::size_t hold_in_text(xml_document* document, const unsigned char* in, std::size_t* at,
                                           std::size_t count, char* out, int* event) {
    std::size_t length = 0;
    std::uint32_t c = utf8_decode(in + *at, count - *at, &length);
    if (length == 0 || c == 0) {
        ++document->replacements;
        *out = '?';
        return 1;
    }
    if (open_node(document)->kind == XML_NODE_ELEMENT) {
        if (c <= 0xFF && document->held_form != XML_HELD_LATIN1 && *event < 0) *event = xml_event_kind(document);
        const int held = xml_hold_given(document, c, in + *at, count - *at, *event, out, &length);
        *at += length - 1;
        return static_cast<std::size_t>(held);
    }
    *at += length - 1;
    if (c <= 0xFF) {
        *out = static_cast<char>(c);
        return 1;
    }
    ++document->replacements;
    *out = length == 2 ? '?' : ' ';
    return 1;
}

// The body of xml_append_text, which the text handler runs in place.
QUILLGATE_HOT_INLINE void append_text(xml_document* document, const unsigned char* in, std::size_t count) {
    // Each line feed may become CR LF, and a character held behind a marker
    // takes at most half as many bytes again as the two or more it came
    // in: room for that, rather than a pass to count them.
    std::size_t extra = document->line_end_style == XML_LINE_END_CRLF ? count : count / 2 + 1;
    char* out = grow_text(document, extra + count);
    if (out == nullptr) return stop_for_memory(document);
    char* start = out;
    int event = -1;
    for (std::size_t i = 0; i < count; ++i) {
        // Plain ASCII up to the next line feed is its own Latin-1: whole
        // words of it are copied as they are read (the room taken covers
        // them), the rest byte by byte.
        for (; i + 8 <= count; i += 8, out += 8) {
            std::uint64_t word = load_word(in + i);
            if (!plain_word(word)) break;
            std::memcpy(out, &word, 8);
        }
        for (; i < count && in[i] < 0x80 && in[i] != '\n'; ++i) *out++ = static_cast<char>(in[i]);
        if (i == count) break;
        unsigned char b = in[i];
        if (b == '\n') {
            if (document->line_end_style == XML_LINE_END_CRLF) {
                *out++ = '\r';
                *out++ = '\n';
            } else {
                *out++ = document->line_end_style == XML_LINE_END_CR ? '\r' : '\n';
            }
        } else {
            // Through a copy, so that the loop's own index stays in a register.
            std::size_t at = i;
            out += hold_in_text(document, in, &at, count, out, &event);
            i = at;
        }
    }
    *out = '\0';
    note_appended(document, static_cast<std::size_t>(out - start));
}

// An entity reference the parser did not expand (one to an external entity
// it does not read) stays in element text as the reference it was.
void hold_entity_reference(xml_document* document, const char* bytes, int length) {
    char* out = grow_text(document, static_cast<std::size_t>(length) + 1);
    if (out == nullptr) return stop_for_memory(document);
    *out = xml_held_marker;
    note_appended(document, 1 + utf8_to_latin1_into(bytes, static_cast<std::size_t>(length), out + 1));
}

} // namespace

void on_text(void* user_data, const XML_Char* bytes, int length) {
    xml_document* document = loading(user_data);
    if (document != nullptr && open_node(document) != nullptr && bytes != nullptr && length >= 0)
        append_text(document, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(length));
}

void on_default(void* user_data, const XML_Char* bytes, int length) {
    xml_document* document = loading(user_data);
    if (document == nullptr) return;
    const xml_node* node = open_node(document);
    if (node != nullptr && node->kind == XML_NODE_ELEMENT && length > 2 && bytes[0] == '&' && bytes[length - 1] == ';')
        return hold_entity_reference(document, bytes, length);
    xml_append_raw(document, bytes, length);
}

} // namespace loader

using namespace loader;

void xml_append_text(xml_document* document, const char* bytes, int length) {
    if (document == nullptr || open_node(document) == nullptr || bytes == nullptr || length < 0) return;
    append_text(document, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(length));
}

void xml_append_raw(xml_document* document, const char* bytes, int length) {
    if (document == nullptr || open_node(document) == nullptr || bytes == nullptr || length < 0) return;
    char* out = grow_text(document, static_cast<std::size_t>(length));
    if (out == nullptr) return stop_for_memory(document);
    count_replacements(document, bytes, static_cast<std::size_t>(length));
    note_appended(document, utf8_to_latin1_into(bytes, static_cast<std::size_t>(length), out));
}

} // namespace quillgate
