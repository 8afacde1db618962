// The saver's byte emitters: text out through the writer's buffer in each
// output encoding, with the escapes of each mode. Private to the saver; all
// of it is inline or templates, so that the walk copies straight into the
// buffer with the same code the emitters run.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/core/bytes.h"
#include "runtime/core/inline.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/xml.h"

namespace quillgate::saver {

// utf8_bytes: 8-bit text whose bytes are a UTF-8 file's own; writer: any
// emitter, the caller's own included, called through the writer.
enum class output { latin1, utf8, utf8_bytes, utf16, writer };

// Copies n bytes, 0 < n < 16, reading none of `from` past them.
QUILLGATE_HOT_INLINE void copy_short(std::uint8_t* to, const unsigned char* from, std::size_t n) {
    if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else {
        copy_below_8(to, from, n);
    }
}

// Puts one unit (an escape or one character) into the buffer, flushing
// first when it does not fit, so no unit is split between two writes.
inline int put(xml_writer* writer, const char* bytes, std::int32_t size) {
    if (writer->room < size) {
        if (writer->flush == nullptr || writer->flush(writer) == 0) return 0;
        if (writer->room < size) return 0;
    }
    copy_short(writer->cursor, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(size));
    writer->cursor += size;
    writer->room -= size;
    return 1;
}

inline std::string_view escape_for(unsigned char b, int mode) {
    if (mode != ESCAPE_TEXT && mode != ESCAPE_ATTRIBUTE) return {};
    switch (b) {
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    default: break;
    }
    if (mode != ESCAPE_ATTRIBUTE) return {};
    // A reader turns these into spaces in an attribute value.
    switch (b) {
    case '\'': return "&apos;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return {};
    }
}

// Element text holds the document's line ends as the file had them. A
// reader turns every CR LF and every other CR into a line feed, so a CR or
// LF that is not such a line end goes out as a reference; a line end goes
// out as it is. `size` receives how many bytes the decision covers.
inline std::string_view line_end_escape(const unsigned char* bytes, std::size_t i, std::size_t count, int style,
                                        std::int32_t* size) {
    *size = 1;
    bool pair = bytes[i] == '\r' && i + 1 < count && bytes[i + 1] == '\n';
    if (style == XML_LINE_END_CRLF && pair) {
        *size = 2;
        return {};
    }
    if (bytes[i] == '\r') return style == XML_LINE_END_CR ? std::string_view{} : "&#13;";
    return style == XML_LINE_END_CRLF || style == XML_LINE_END_CR ? "&#10;" : std::string_view{};
}

// For each escape mode, the bytes that are written as they are in 8-bit
// output, and in UTF-8 output, which also re-encodes or checks the bytes
// from 0x80 up. The terminator is never plain, so a scan stops at it.
struct pass_table {
    bool plain[3][256];
    bool ascii[3][256];
    constexpr pass_table() : plain{}, ascii{} {
        for (int mode = 0; mode < 3; ++mode) {
            for (int b = 0; b < 256; ++b) {
                bool markup = b == '<' || b == '>' || b == '&';
                bool attribute_only = b == '\'' || b == '"' || b == '\t';
                bool line_end = b == '\n' || b == '\r';
                bool held = b == xml_held_marker;
                plain[mode][b] = b != 0 && !((markup || line_end || held) && mode != ESCAPE_NONE) &&
                                 !(attribute_only && mode == ESCAPE_ATTRIBUTE);
                ascii[mode][b] = plain[mode][b] && b < 0x80;
            }
        }
    }
};
// The byte loop of builds without SSE2 reads it.
[[maybe_unused]] inline constexpr pass_table pass_through{};

inline int clamp_mode(int mode) { return mode >= 0 && mode <= 2 ? mode : ESCAPE_NONE; }

// The size of the line end at bytes[i] when it goes out as it is in element
// text (see line_end_escape), or 0.
inline std::size_t line_end_as_is(const unsigned char* bytes, std::size_t i, std::size_t count, int style) {
    if (bytes[i] == '\r') {
        if (style == XML_LINE_END_CRLF) return i + 1 < count && bytes[i + 1] == '\n' ? 2 : 0;
        return style == XML_LINE_END_CR ? 1 : 0;
    }
    return bytes[i] == '\n' && style != XML_LINE_END_CRLF && style != XML_LINE_END_CR ? 1 : 0;
}

#if defined(__SSE2__)
// One bit for each of sixteen bytes that does not go out as it is: what the
// mode escapes, in UTF-8 output every byte from 0x80 up, and in element text
// every line end but those of the document's own kind. A CR LF pair counts
// as such only where both bytes lie in one run of the register's bytes: a
// bit set in `pair_break` marks a byte whose next one is not the text's next
// byte, so that a CR there stops (and the caller looks further).
template <int mode, bool stop_high>
QUILLGATE_HOT_INLINE unsigned stops_in(__m128i chunk, int style, unsigned pair_break) {
    auto is = [chunk](char c) { return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(c)); };
    __m128i hits = stop_high ? chunk : _mm_setzero_si128(); // the sign bit is the mask bit
    if (mode != ESCAPE_NONE) {
        hits = _mm_or_si128(hits, _mm_or_si128(_mm_or_si128(is('<'), is('>')), is('&')));
        hits = _mm_or_si128(hits, is(xml_held_marker));
    }
    if (mode == ESCAPE_ATTRIBUTE) {
        hits = _mm_or_si128(hits, _mm_or_si128(_mm_or_si128(is('\''), is('"')), is('\t')));
        hits = _mm_or_si128(hits, _mm_or_si128(is('\n'), is('\r')));
    }
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mode == ESCAPE_TEXT) {
        unsigned cr = static_cast<unsigned>(_mm_movemask_epi8(is('\r')));
        unsigned lf = static_cast<unsigned>(_mm_movemask_epi8(is('\n')));
        unsigned pairs = cr & (lf >> 1) & ~pair_break;
        unsigned as_is = style == XML_LINE_END_CRLF ? pairs | (pairs << 1) : style == XML_LINE_END_CR ? cr : lf;
        mask |= (cr | lf) & ~as_is;
    }
    return mask;
}

// The first stop among n bytes, half <= n < 2 * half (or n < 4 when half
// is 4), or n: the low half of `low_word` holds the first bytes, its high
// half the last ones, the two overlapping where n is under 2 * half. The
// low half decides for its own bytes, the high half for the rest; where they
// overlap, the high half's first bytes lack the byte before them.
template <int mode, bool stop_high, std::size_t half>
QUILLGATE_HOT_INLINE std::size_t first_stop_in(std::uint64_t low_word, std::uint64_t high_word, std::size_t n,
                                               int style) {
    __m128i chunk = _mm_set_epi64x(static_cast<long long>(high_word), static_cast<long long>(low_word));
    unsigned mask = stops_in<mode, stop_high>(chunk, style, 1u << (half - 1));
    unsigned low = mask & ((1u << half) - 1);
    if (low != 0) return static_cast<std::size_t>(std::countr_zero(low));
    unsigned high = n > half ? ((mask >> half) & ((1u << half) - 1)) >> (2 * half - n) : 0;
    return high != 0 ? half + static_cast<std::size_t>(std::countr_zero(high)) : n;
}

// Copies n bytes, 0 < n < 16, to `out` and returns the first stop among
// them, or n. The bytes are read as two overlapping halves into one
// register (under four, one by one, the rest zero, at which no mode stops),
// so that nothing past them is read, nor anything just written (a load that
// overlaps fresh stores stalls).
template <int mode, bool stop_high>
QUILLGATE_HOT_INLINE std::size_t copy_short_plain(std::uint8_t* out, const unsigned char* bytes, std::size_t n,
                                                  int style) {
    if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, bytes, 8);
        std::memcpy(&tail, bytes + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
        return first_stop_in<mode, stop_high, 8>(head, tail, n, style);
    }
    std::uint64_t word = 0;
    if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, bytes, 4);
        std::memcpy(&tail, bytes + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
        word = head | static_cast<std::uint64_t>(tail) << 32;
    } else {
        for (std::size_t k = 0; k < n; ++k) {
            out[k] = bytes[k];
            word |= static_cast<std::uint64_t>(bytes[k]) << (8 * k);
        }
    }
    return first_stop_in<mode, stop_high, 4>(word, 0, n, style);
}
#endif

// Copies the leading bytes of bytes[0, count) that go out as they are to
// `out`, as many as its `room` takes, and returns how many; the range holds
// no terminator. In element text that takes in the line ends of the
// document's own kind found within one group of bytes read together; the
// caller looks at the others. With SSE2 (every x86-64 processor) whole
// groups of sixteen bytes are copied and then checked, so a few bytes past
// the stop may be written as well: they lie in the buffer's free room, which
// the next unit overwrites. Without SSE2 a byte loop checks them against
// the table, stopping at every line end.
template <int mode, bool stop_high>
QUILLGATE_HOT_INLINE std::size_t copy_plain(std::uint8_t* out, std::size_t room, const unsigned char* bytes,
                                            std::size_t count, [[maybe_unused]] int style) {
    std::size_t limit = std::min(count, room);
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= limit; i += 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), chunk);
        if (unsigned mask = stops_in<mode, stop_high>(chunk, style, 0x8000))
            return i + static_cast<std::size_t>(std::countr_zero(mask));
    }
    return limit > i ? i + copy_short_plain<mode, stop_high>(out + i, bytes + i, limit - i, style) : i;
#else
    const bool* plain = stop_high ? pass_through.ascii[mode] : pass_through.plain[mode];
    for (; i < limit && plain[bytes[i]]; ++i) out[i] = bytes[i];
    return i;
#endif
}

// copy_plain, and in element text also the line ends that go out as they
// are, each a unit of its own (a CR LF only when both bytes fit).
template <int mode, bool stop_high>
QUILLGATE_HOT_INLINE std::size_t copy_run(std::uint8_t* out, std::size_t room, const unsigned char* bytes,
                                          std::size_t count, int style) {
    std::size_t i = 0;
    for (;;) {
        i += copy_plain<mode, stop_high>(out + i, room - i, bytes + i, count - i, style);
        if (i == count || mode != ESCAPE_TEXT) return i;
        std::size_t size = line_end_as_is(bytes, i, count, style);
        if (size == 0 || size > room - i) return i;
        out[i] = bytes[i];
        out[i + size - 1] = bytes[i + size - 1];
        i += size;
    }
}

// UTF-8 output re-encodes every byte from 0x80 up; a UTF-8 file's own
// bytes go out as they stood, well-formed or not.
template <output encoding>
inline constexpr bool stops_high = encoding == output::utf8;

inline std::size_t room_of(const xml_writer* writer) {
    return writer->room > 0 ? static_cast<std::size_t>(writer->room) : 0;
}

// Writes bytes[0, count), which holds no terminator. In the 8-bit and UTF-8
// outputs the runs that go out as they are land straight in the buffer
// while they fit; each such byte, or line end, is a unit of its own, so
// nothing is split and nothing is flushed while there is room. Everything
// else goes one unit at a time. The escapes go by `mode` as given, the scan
// by `plain_mode`, the mode it stands for; the walk calls this only where
// its own copies stop, so it stays out of the walk's code.
template <output encoding>
int emit_held(const unsigned char* bytes, std::size_t count, xml_writer* writer, std::size_t* size);

template <output encoding, int plain_mode>
[[gnu::noinline]] int emit_in(const unsigned char* bytes, std::size_t count, int mode, xml_writer* writer) {
    std::size_t i = 0;
    while (i < count) {
        if (encoding != output::utf16) {
            std::size_t n = copy_run<plain_mode, stops_high<encoding>>(writer->cursor, room_of(writer), bytes + i,
                                                                       count - i, writer->line_end_style);
            i += n;
            if (n > 0) {
                writer->cursor += n;
                writer->room -= static_cast<std::int32_t>(n);
            }
            if (i == count) break;
        }
        // One unit: an escape, or `covered` bytes that go out as characters
        // (a CR LF line end, or one UTF-8 sequence, is a single unit).
        auto b = bytes[i];
        if (b == static_cast<unsigned char>(xml_held_marker) && mode != ESCAPE_NONE) {
            std::size_t size = 0;
            if (emit_held<encoding>(bytes + i, count - i, writer, &size) == 0) return 0;
            i += size;
            continue;
        }
        std::string_view escape = escape_for(b, mode);
        std::int32_t covered = 1;
        if (mode == ESCAPE_TEXT && (b == '\r' || b == '\n'))
            escape = line_end_escape(bytes, i, count, writer->line_end_style, &covered);
        const char* piece = escape.empty() ? reinterpret_cast<const char*>(bytes + i) : escape.data();
        auto size = escape.empty() ? covered : static_cast<std::int32_t>(escape.size());
        char unit[16];
        if (encoding == output::utf16) {
            for (std::int32_t k = 0; k < size; ++k) {
                unit[2 * k] = piece[k];
                unit[2 * k + 1] = '\0';
            }
            piece = unit;
            size *= 2;
        } else if (encoding == output::utf8 && escape.empty() && b >= 0x80) {
            unit[0] = static_cast<char>(0xC0 | (b >> 6));
            unit[1] = static_cast<char>(0x80 | (b & 0x3F));
            piece = unit;
            size = 2;
        }
        if (put(writer, piece, size) == 0) return 0;
        i += static_cast<std::size_t>(covered);
    }
    return 1;
}

// A held character or entity reference at bytes[0], a marker, into the
// output; `size` receives the bytes it covers. UTF-8 output writes the
// character itself; the others a reference, which every reader decodes
// alike. A marker that holds nothing well-formed is dropped.
template <output encoding>
int emit_held(const unsigned char* bytes, std::size_t count, xml_writer* writer, std::size_t* size) {
    *size = 1;
    if (count > 1 && bytes[1] == '&') {
        const void* end = std::memchr(bytes + 1, ';', count - 1);
        if (end == nullptr) return 1;
        *size = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - bytes) + 1;
        return emit_in<encoding, ESCAPE_NONE>(bytes + 1, *size - 1, ESCAPE_NONE, writer);
    }
    std::size_t length = 0;
    std::uint32_t c = utf8_decode(bytes + 1, count - 1, &length);
    if (length == 0) return 1;
    *size = 1 + length;
    if (encoding == output::utf8 || encoding == output::utf8_bytes)
        return put(writer, reinterpret_cast<const char*>(bytes + 1), static_cast<std::int32_t>(length));
    char reference[16];
    int n = std::snprintf(reference, sizeof reference, "&#x%04X;", static_cast<unsigned>(c));
    return emit_in<encoding, ESCAPE_NONE>(reinterpret_cast<const unsigned char*>(reference),
                                          static_cast<std::size_t>(n), ESCAPE_NONE, writer);
}

// emit_in for a mode known only when the program runs.
template <output encoding>
int emit_bytes(const unsigned char* bytes, std::size_t count, int mode, xml_writer* writer) {
    switch (clamp_mode(mode)) {
    case ESCAPE_TEXT: return emit_in<encoding, ESCAPE_TEXT>(bytes, count, mode, writer);
    case ESCAPE_ATTRIBUTE: return emit_in<encoding, ESCAPE_ATTRIBUTE>(bytes, count, mode, writer);
    default: return emit_in<encoding, ESCAPE_NONE>(bytes, count, mode, writer);
    }
}

template <output encoding>
int emit(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    if (text == nullptr) return 1;
    // The text ends at its terminator or after `length` bytes, whichever
    // comes first.
    std::size_t count = 0;
    if (length < 0) {
        count = std::strlen(text);
    } else {
        const void* end = std::memchr(text, 0, static_cast<std::size_t>(length));
        count = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text)
                               : static_cast<std::size_t>(length);
    }
    return emit_bytes<encoding>(reinterpret_cast<const unsigned char*>(text), count, mode, writer);
}

} // namespace quillgate::saver
