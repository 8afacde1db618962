// Saving: the tree goes out through one 4096-byte buffer into a new file
// beside the target, which replaces the target only once it is complete.
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
#include "runtime/core/heap.h"
#include "runtime/core/inline.h"
#include "runtime/files/files.h"
#include "runtime/platform/replace.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

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
int put(xml_writer* writer, const char* bytes, std::int32_t size) {
    if (writer->room < size) {
        if (writer->flush == nullptr || writer->flush(writer) == 0) return 0;
        if (writer->room < size) return 0;
    }
    copy_short(writer->cursor, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(size));
    writer->cursor += size;
    writer->room -= size;
    return 1;
}

std::string_view escape_for(unsigned char b, int mode) {
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
std::string_view line_end_escape(const unsigned char* bytes, std::size_t i, std::size_t count, int style,
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
[[maybe_unused]] constexpr pass_table pass_through{};

int clamp_mode(int mode) { return mode >= 0 && mode <= 2 ? mode : ESCAPE_NONE; }

// The size of the line end at bytes[i] when it goes out as it is in element
// text (see line_end_escape), or 0.
std::size_t line_end_as_is(const unsigned char* bytes, std::size_t i, std::size_t count, int style) {
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
constexpr bool stops_high = encoding == output::utf8;

std::size_t room_of(const xml_writer* writer) { return writer->room > 0 ? static_cast<std::size_t>(writer->room) : 0; }

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
        std::string_view escape = escape_for(b, mode);
        std::int32_t covered = 1;
        if (mode == ESCAPE_TEXT && (b == '\r' || b == '\n'))
            escape = line_end_escape(bytes, i, count, writer->line_end_style, &covered);
        if (b == static_cast<unsigned char>(xml_held_marker) && mode != ESCAPE_NONE) {
            std::size_t size = 0;
            if (emit_held<encoding>(bytes + i, count - i, writer, &size) == 0) return 0;
            i += size;
            continue;
        }
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

// Writes a walk's strings. The walk is compiled once for each of the 8-bit
// and UTF-8 emitters, whose code it runs directly, and once for any other
// (UTF-16, or the caller's own), which it calls through the writer. Text
// that goes out as it is and fits the room is copied straight into the
// buffer, a ` name="value"` pair in one piece; that is what the emitter
// would write, at the same flush points, since nothing is flushed while
// there is room.
template <output encoding>
class emitter {
public:
    static constexpr bool direct = encoding != output::utf16 && encoding != output::writer;

    explicit emitter(xml_writer* writer) : writer_(writer) {}

    // text[0, count), which holds no terminator.
    int text(const char* text, std::size_t count, int mode) {
        if constexpr (!direct) {
            return writer_->emit(text, static_cast<std::int32_t>(count), mode, writer_);
        } else {
            if (mode == ESCAPE_TEXT) return write<ESCAPE_TEXT>(text, count);
            if (mode == ESCAPE_NONE) return write<ESCAPE_NONE>(text, count);
            return emit_bytes<encoding>(reinterpret_cast<const unsigned char*>(text), count, mode, writer_);
        }
    }

    int none(const char* text) {
        if constexpr (!direct) {
            return writer_->emit(text, -1, ESCAPE_NONE, writer_);
        } else {
            return text == nullptr || write<ESCAPE_NONE>(text, std::strlen(text));
        }
    }

    // Fixed markup, every byte of which goes out as it is.
    template <std::size_t N>
    QUILLGATE_HOT_INLINE int markup(const char (&piece)[N]) {
        constexpr std::size_t size = N - 1;
        if (!direct || room_of(writer_) < size) return none(piece);
        std::memcpy(writer_->cursor, piece, size);
        writer_->cursor += size;
        writer_->room -= static_cast<std::int32_t>(size);
        return 1;
    }

    // ' name="value"', copied whole when it goes out as it is and fits.
    int attribute(const char* name, const char* value) {
        if constexpr (!direct) {
            return none(" ") && none(name) && none("=\"") && writer_->emit(value, -1, ESCAPE_ATTRIBUTE, writer_) &&
                   none("\"");
        } else {
            if (name == nullptr || value == nullptr) {
                return markup(" ") && none(name) && markup("=\"") &&
                       (value == nullptr ||
                        emit_in<encoding, ESCAPE_ATTRIBUTE>(reinterpret_cast<const unsigned char*>(value),
                                                            std::strlen(value), ESCAPE_ATTRIBUTE, writer_)) &&
                       markup("\"");
            }
            std::size_t name_size = std::strlen(name);
            std::size_t value_size = std::strlen(value);
            std::size_t room = room_of(writer_);
            std::uint8_t* out = writer_->cursor;
            if (name_size + value_size + 4 <= room) {
                out[0] = ' ';
                if (copy<ESCAPE_NONE>(out + 1, room - 1, name, name_size) == name_size) {
                    std::uint8_t* at = out + 1 + name_size;
                    at[0] = '=';
                    at[1] = '"';
                    at += 2;
                    std::size_t copied =
                        copy<ESCAPE_ATTRIBUTE>(at, room - static_cast<std::size_t>(at - out), value, value_size);
                    at += copied;
                    if (copied == value_size) *at++ = '"';
                    writer_->room -= static_cast<std::int32_t>(at - out);
                    writer_->cursor = at;
                    if (copied == value_size) return 1;
                    // The value goes on from the byte that needs an escape.
                    return emit_in<encoding, ESCAPE_ATTRIBUTE>(reinterpret_cast<const unsigned char*>(value) + copied,
                                                               value_size - copied, ESCAPE_ATTRIBUTE, writer_) &&
                           markup("\"");
                }
            }
            return markup(" ") && write<ESCAPE_NONE>(name, name_size) && markup("=\"") &&
                   emit_in<encoding, ESCAPE_ATTRIBUTE>(reinterpret_cast<const unsigned char*>(value), value_size,
                                                       ESCAPE_ATTRIBUTE, writer_) &&
                   markup("\"");
        }
    }

private:
    template <int mode>
    QUILLGATE_HOT_INLINE std::size_t copy(std::uint8_t* out, std::size_t room, const char* text,
                                          std::size_t count) const {
        return copy_run<mode, stops_high<encoding>>(out, room, reinterpret_cast<const unsigned char*>(text), count,
                                                    writer_->line_end_style);
    }

    // What goes out as it is and fits lands in the buffer here; the rest,
    // if any, goes through the emitter's code from the byte where it stopped.
    template <int mode>
    int write(const char* text, std::size_t count) {
        std::size_t copied = copy<mode>(writer_->cursor, room_of(writer_), text, count);
        if (copied > 0) {
            writer_->cursor += copied;
            writer_->room -= static_cast<std::int32_t>(copied);
        }
        return copied == count || emit_in<encoding, mode>(reinterpret_cast<const unsigned char*>(text) + copied,
                                                          count - copied, mode, writer_);
    }

    xml_writer* writer_;
};

// Where the content of an open element or document node stands: how much
// of its text is written, and how long that text is.
struct content_position {
    xml_node* node;
    std::int64_t written;
    std::int64_t length;
};

// The open nodes of a walk, innermost last. Ordinary documents fit the
// first few levels held here; deeper ones grow onto the heap.
class position_stack {
public:
    position_stack() = default;
    position_stack(const position_stack&) = delete;
    position_stack& operator=(const position_stack&) = delete;
    ~position_stack() {
        if (entries_ != inline_) heap_free(entries_);
    }

    bool push(xml_node* node) {
        if (depth_ == room_) {
            std::size_t grown = room_ * 2;
            void* block = heap_alloc(grown * sizeof(content_position));
            if (block == nullptr) return false;
            std::memcpy(block, entries_, depth_ * sizeof(content_position));
            if (entries_ != inline_) heap_free(entries_);
            entries_ = static_cast<content_position*>(block);
            room_ = grown;
        }
        std::int64_t length = node->text != nullptr ? static_cast<std::int64_t>(std::strlen(node->text)) : 0;
        entries_[depth_++] = {node, 0, length};
        return true;
    }
    void pop() { --depth_; }
    bool empty() const { return depth_ == 0; }
    content_position& top() { return entries_[depth_ - 1]; }

private:
    content_position inline_[64];
    content_position* entries_ = inline_;
    std::size_t depth_ = 0;
    std::size_t room_ = 64;
};

// Only element text is character data. The document node's text is the
// white space around the prolog items and the main element, and a DOCTYPE
// node's is markup: neither may hold a reference, so both go out as they are.
int content_mode(const xml_node* node) {
    return node->kind == XML_NODE_DOCUMENT || node->kind == XML_NODE_DTD ? ESCAPE_NONE : ESCAPE_TEXT;
}

// The parent's text that lies before the next child, at most n bytes of
// what is left; the position moves by the full n.
template <class emitter_type>
int emit_run(emitter_type& out, content_position& at, std::int32_t n) {
    if (n <= 0) return 1;
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        auto size = static_cast<std::int32_t>(n < left ? n : left);
        if (out.text(at.node->text + at.written, static_cast<std::size_t>(size), content_mode(at.node)) == 0) return 0;
    }
    at.written += n;
    return 1;
}

// Writes the rest of an open node's text and its end tag.
template <class emitter_type>
int finish_content(emitter_type& out, content_position& at) {
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        const char* rest = at.node->text + at.written;
        // Runs longer than a signed 32-bit count go out in pieces.
        while (left > 0) {
            std::int32_t size = left > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(left);
            if (out.text(rest, static_cast<std::size_t>(size), content_mode(at.node)) == 0) return 0;
            rest += size;
            left -= size;
        }
    }
    if (at.node->kind != XML_NODE_DOCUMENT && at.node->kind != XML_NODE_DTD) {
        if (out.markup("</") == 0 || out.none(at.node->name) == 0 || out.markup(">") == 0) return 0;
    }
    return 1;
}

// A CDATA section's text. A section holds no reference, so one that holds
// characters its encoding lacks closes around each run of them, which go
// out as the references element text has.
template <class emitter_type>
int write_cdata(emitter_type& out, const char* text) {
    if (text == nullptr) return 1;
    for (;;) {
        const char* held = std::strchr(text, xml_held_marker);
        if (held == nullptr) return out.none(text);
        const char* end = held;
        while (*end == xml_held_marker) {
            std::size_t length = 0;
            utf8_decode(reinterpret_cast<const unsigned char*>(end + 1), std::strlen(end + 1), &length);
            end += 1 + length;
        }
        if (out.text(text, static_cast<std::size_t>(held - text), ESCAPE_NONE) == 0 || out.markup("]]>") == 0 ||
            out.text(held, static_cast<std::size_t>(end - held), ESCAPE_TEXT) == 0 || out.markup("<![CDATA[") == 0)
            return 0;
        text = end;
    }
}

// Writes a node that has no content of its own to walk (everything but the
// document node, DOCTYPE nodes and elements that hold something), or the
// start tag of one that has. `opens` tells which.
template <class emitter_type>
QUILLGATE_HOT_INLINE int write_head(emitter_type& out, xml_node* node, bool* opens) {
    *opens = false;
    switch (node->kind) {
    case XML_NODE_COMMENT: return out.markup("<!--") && out.none(node->text) && out.markup("-->");
    case XML_NODE_CDATA: return out.markup("<![CDATA[") && write_cdata(out, node->text) && out.markup("]]>");
    // The comments and instructions of an internal subset are children of
    // the DOCTYPE node, placed in its text as an element's children are.
    case XML_NODE_DTD: *opens = true; return 1;
    case XML_NODE_INSTRUCTION:
        return out.markup("<?") && out.none(node->name) && out.markup(" ") && out.none(node->text) && out.markup("?>");
    case XML_NODE_DOCUMENT: *opens = true; return 1;
    default: break;
    }
    if (out.markup("<") == 0 || out.none(node->name) == 0) return 0;
    if (node->attribute_count > 0 && node->attributes != nullptr) {
        for (int i = 0; i < node->attribute_count; ++i) {
            if (out.attribute(node->attributes[2 * i], node->attributes[2 * i + 1]) == 0) return 0;
        }
    }
    if (node->first_child == nullptr && (node->text == nullptr || node->text[0] == '\0')) return out.markup("/>");
    *opens = true;
    return out.markup(">");
}

struct file_writer_state {
    os_handle handle = 0;
    char* temp_path = nullptr; // a heap block; empty until the file exists
    std::uint8_t* buffer = nullptr;
    bool done = false;

    file_writer_state() = default;
    file_writer_state(const file_writer_state&) = delete;
    file_writer_state& operator=(const file_writer_state&) = delete;
    // Whatever did not finish leaves no trace: no handle, no buffer, and no
    // temporary file beside the untouched target.
    ~file_writer_state() {
        heap_free(buffer);
        if (handle != 0) os_file_close(handle);
        if (!done && temp_path != nullptr && *temp_path != '\0') replace_delete(temp_path);
        heap_free(temp_path);
    }
};

} // namespace

int xml_emit_latin1(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::latin1>(text, length, mode, writer);
}

int xml_emit_utf8(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf8>(text, length, mode, writer);
}

int xml_emit_utf8_bytes(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf8_bytes>(text, length, mode, writer);
}

int xml_emit_utf16(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf16>(text, length, mode, writer);
}

int xml_writer_flush(xml_writer* writer) {
    auto pending = static_cast<std::uint32_t>(xml_save_buffer_size - writer->room);
    if (os_file_write(writer->file_handle, writer->buffer_start, pending) != pending) return 0;
    writer->cursor = writer->buffer_start;
    writer->room = xml_save_buffer_size;
    return 1;
}

namespace {

// The walk goes down first_child and along next_sibling and climbs back by
// parent, with the open nodes' text positions on a stack of its own: depth
// costs heap, never the machine stack.
template <output encoding>
int write_tree(xml_node* root, xml_writer* writer) {
    position_stack open;
    emitter<encoding> out(writer);
    xml_node* node = root;
    for (;;) {
        bool opens = false;
        if (write_head(out, node, &opens) == 0) return 0;
        if (opens) {
            if (!open.push(node)) return 0;
            if (node->first_child != nullptr) {
                node = node->first_child;
                if (emit_run(out, open.top(), node->preceding_text_length) == 0) return 0;
                continue;
            }
        } else if (node != root && node->next_sibling != nullptr) {
            node = node->next_sibling;
            if (emit_run(out, open.top(), node->preceding_text_length) == 0) return 0;
            continue;
        } else if (node == root) {
            return 1;
        }
        // The node just written was the last child of the innermost open
        // node (or had no children itself): close open nodes until one has
        // a next sibling to go on with.
        for (;;) {
            content_position& at = open.top();
            if (finish_content(out, at) == 0) return 0;
            xml_node* closed = at.node;
            open.pop();
            if (closed == root) return 1;
            if (closed->next_sibling != nullptr) {
                node = closed->next_sibling;
                if (emit_run(out, open.top(), node->preceding_text_length) == 0) return 0;
                break;
            }
        }
    }
}

} // namespace

int xml_write_node(xml_node* root, xml_writer* writer) {
    if (root == nullptr || writer == nullptr || writer->emit == nullptr) return 0;
    if (writer->emit == xml_emit_latin1) return write_tree<output::latin1>(root, writer);
    if (writer->emit == xml_emit_utf8) return write_tree<output::utf8>(root, writer);
    if (writer->emit == xml_emit_utf8_bytes) return write_tree<output::utf8_bytes>(root, writer);
    return write_tree<output::writer>(root, writer);
}

namespace {

// The encoding name the declaration gives: the one the file declared where
// its bytes go out as they stood under it, else the output's own.
const char* declared_name(const xml_document* document, int encoding) {
    const char* declared = document->declared_encoding;
    if (encoding == ENCODING_UTF16) return "UTF-16";
    bool kept = encoding == ENCODING_8BIT && declared != nullptr && document->keeps_declared_name != 0;
    if (encoding == ENCODING_UTF8 || document->declare_utf8 != 0)
        return kept && document->held_form == XML_HELD_UTF8 ? declared : "UTF-8";
    return kept && document->held_form != XML_HELD_UTF8 ? declared : "ISO-8859-1";
}

// After a declaration the file did not have, the file's own line end.
const char* line_end_after_declaration(const xml_document* document) {
    if (document->has_declaration != 0) return "";
    switch (document->line_end_style) {
    case XML_LINE_END_CRLF: return "\r\n";
    case XML_LINE_END_LF: return "\n";
    case XML_LINE_END_CR: return "\r";
    default: return "";
    }
}

} // namespace

int xml_write_document(xml_document* document, xml_writer* writer, int encoding, int flags) {
    if (encoding == ENCODING_UTF16) {
        writer->emit = xml_emit_utf16;
        if ((flags & XML_SAVE_BOM) != 0 && writer->room >= 2) {
            *writer->cursor++ = 0xFF;
            *writer->cursor++ = 0xFE;
            writer->room -= 2;
        }
    } else if (encoding == ENCODING_UTF8 || document->declare_utf8 != 0) {
        // An 8-bit document of a UTF-8 file holds that file's bytes: they go
        // out as they are, under a UTF-8 declaration, and a mark the file
        // had goes back in front.
        bool file_bytes = encoding != ENCODING_UTF8;
        writer->emit = file_bytes ? xml_emit_utf8_bytes : xml_emit_utf8;
        bool mark = (flags & XML_SAVE_BOM) != 0 || (file_bytes && document->utf8_mark != 0);
        if (mark && writer->room >= 3) {
            *writer->cursor++ = 0xEF;
            *writer->cursor++ = 0xBB;
            *writer->cursor++ = 0xBF;
            writer->room -= 3;
        }
    } else {
        writer->emit = xml_emit_latin1;
    }
    writer->line_end_style = document->line_end_style;
    if ((flags & XML_SAVE_NO_DECLARATION) == 0) {
        emitter<output::writer> out(writer);
        if (out.none("<?xml version=\"1.0\" encoding=\"") == 0 || out.none(declared_name(document, encoding)) == 0 ||
            out.none("\"") == 0)
            return 0;
        if (document->standalone == 0 && out.none(" standalone=\"no\"") == 0) return 0;
        if (document->standalone == 1 && out.none(" standalone=\"yes\"") == 0) return 0;
        if (out.markup("?>") == 0 || out.none(line_end_after_declaration(document)) == 0) return 0;
    }
    if (document->document_node == nullptr) return 1;
    return xml_write_node(document->document_node, writer);
}

int xml_save(object_id slot, const char* path, int flags) {
    if (path == nullptr || *path == '\0') return 0;
    xml_document* document = xml_document_get(slot);
    if (document == nullptr) return 0;
    int target = replace_check_target(path);
    if (target == REPLACE_REFUSED) return 0;
    file_writer_state state;
    state.temp_path = static_cast<char*>(heap_alloc_zeroed(std::strlen(path) + replace_temp_extra));
    if (state.temp_path == nullptr) return 0;
    state.handle = replace_create_temp(path, state.temp_path);
    if (state.handle == 0) return 0;
    if (target == REPLACE_EXISTING && !replace_copy_attributes(path, state.handle, state.temp_path)) return 0;
    state.buffer = static_cast<std::uint8_t*>(heap_alloc(xml_save_buffer_size));
    if (state.buffer == nullptr) return 0;
    xml_writer writer{};
    writer.cursor = state.buffer;
    writer.buffer_start = state.buffer;
    writer.room = xml_save_buffer_size;
    writer.flush = xml_writer_flush;
    writer.file_handle = state.handle;
    if (xml_write_document(document, &writer, document->encoding, flags) == 0) return 0;
    if (writer.room < xml_save_buffer_size && xml_writer_flush(&writer) == 0) return 0;
    if (!replace_flush(state.handle)) return 0;
    os_handle handle = state.handle;
    state.handle = 0;
    // A close that fails may have lost written data; the target stays.
    if (!os_file_close(handle)) return 0;
    if (!replace_move(state.temp_path, path)) return 0;
    state.done = true;
    return 1;
}

} // namespace quillgate
