// Loading: an Expat parser's callbacks build the tree so that saving it gives
// back the file's markup, whitespace and line ends.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <expat.h>

#include "runtime/core/bytes.h"
#include "runtime/core/heap.h"
#include "runtime/core/inline.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/references.h"
#include "runtime/xml/xml.h"

namespace quillgate {

// What a load keeps about the nodes it has open, innermost last, so that
// appending to a long text neither measures it nor copies it each time.
//
// The document node's text is a separately owned block that grows in place
// (length and capacity). Every other open node's text lies on one shared
// stack, each text right behind its parent's: a node that opens starts its
// text past the end of its parent's, and one that closes copies its text to
// the pool and gives the place back. Texts are NUL-terminated on the stack,
// and never start at a multiple of 8, so that they pass for pool strings
// while they are there.
struct xml_load_state {
    struct open_text {
        std::int64_t length;
        std::int64_t capacity; // the document node's block
        std::int64_t start;    // a stacked text's offset behind the header words
    };
    open_text current{0, 0, 0};
    open_text* outer = nullptr; // the enclosing open nodes, outermost first
    std::int32_t depth = 0;     // 0 while the document node is the open one
    std::int32_t room = 0;
    // The stack is shaped like a pool block, so that a load that ends with
    // texts still on it (a failed one) hands it to the document whole.
    xml_pool_block* texts = nullptr;
    std::size_t texts_room = 0; // bytes behind the header words
    bool texts_in_tree = false; // a closed node's text stayed on the stack
    // The file's first line end decides the style, wherever the pieces the
    // parser is fed happen to break: a CR at the end of one piece waits for
    // the next unit. A line feed that opens the file is not taken as a line
    // end. Units are whole characters of the file's width: in UTF-16 a
    // character such as U+4E0D holds a byte 0x0D that is no carriage return.
    bool scan_started = false;
    bool scan_pending_cr = false;
    std::int32_t unit_width = 0; // 0 until the first two bytes tell: 1 or 2
    bool big_endian = false;
    unsigned char unit_bytes[2]{};
    std::int32_t unit_filled = 0;
    std::int32_t mark_units = 0;
    // What the file shows about its own encoding (for declare_utf8).
    unsigned char lead[3]{};
    std::int32_t lead_count = 0;
    bool declared_other_encoding = false;
    // 8-bit loads take a UTF-8 file's bytes as they are; a mark in front
    // would make the parser decode them, so it is passed over.
    bool pass_utf8_mark = false;
    // The element and attribute names copied to the pool so far. A file
    // repeats a few names many times, and no name is ever changed in place,
    // so the nodes share one copy of each. Open addressing over a power of
    // two slots, at most half of them used; each slot keeps the name's
    // length and hash, so that a probe seldom reads the name itself.
    struct name_entry {
        char* name;
        std::uint32_t length;
        std::uint32_t hash;
    };
    name_entry* names = nullptr;
    std::uint32_t name_slots = 0;
    std::uint32_t name_count = 0;

    ~xml_load_state() {
        heap_free(outer);
        heap_free(texts);
        heap_free(names);
    }

    static_assert(sizeof(xml_pool_block) % 8 == 0, "stacked texts must keep their distance from multiples of 8");
    char* text_base() const { return reinterpret_cast<char*>(texts + 1); }

    bool push() {
        if (depth == room) {
            std::int32_t grown = room == 0 ? 64 : room * 2;
            if (grown <= room) return false;
            void* block = heap_realloc(outer, static_cast<std::size_t>(grown) * sizeof(open_text));
            if (block == nullptr) return false;
            outer = static_cast<open_text*>(block);
            room = grown;
        }
        // Past the parent's text and its terminator (the document node's
        // text is not on the stack).
        std::int64_t start = depth == 0 ? 0 : current.start + current.length + 1;
        if (start % 8 == 0) ++start;
        outer[depth++] = current;
        current = {0, 0, start};
        return true;
    }

    void pop() {
        if (depth > 0) current = outer[--depth];
    }

    int scan_line_ends(const unsigned char* bytes, std::uint32_t n) {
        for (std::uint32_t i = 0; i < n; ++i) {
            unit_bytes[unit_filled++] = bytes[i];
            if (unit_width == 0) {
                if (unit_filled < 2) continue;
                // XML text opens with "<", white space or a mark, so a UTF-16
                // file shows one zero byte among its first two, or a mark;
                // 8-bit and UTF-8 text has no zero byte at all.
                unsigned char a = unit_bytes[0];
                unsigned char b = unit_bytes[1];
                bool mark = (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
                unit_width = mark || ((a == 0) != (b == 0)) ? 2 : 1;
                big_endian = a == 0 || a == 0xFE;
                unit_filled = 0;
                if (unit_width == 1) {
                    int style = take_unit(a);
                    if (style == XML_LINE_END_NONE) style = take_unit(b);
                    if (style != XML_LINE_END_NONE) return style;
                    continue;
                }
            } else if (unit_filled < unit_width) {
                continue;
            }
            unit_filled = 0;
            unsigned unit = unit_width == 1 ? unit_bytes[0]
                            : big_endian    ? (unit_bytes[0] << 8u) | unit_bytes[1]
                                            : (unit_bytes[1] << 8u) | unit_bytes[0];
            if (int style = take_unit(unit); style != XML_LINE_END_NONE) return style;
        }
        return XML_LINE_END_NONE;
    }

    int take_unit(unsigned unit) {
        if (!scan_started) {
            // A byte-order mark is no text: the file's first character, and
            // a line feed there, come after it.
            static constexpr unsigned utf8_mark[3] = {0xEF, 0xBB, 0xBF};
            if (unit == 0xFEFF || (unit_width == 1 && mark_units < 3 && unit == utf8_mark[mark_units])) {
                ++mark_units;
                return XML_LINE_END_NONE;
            }
            scan_started = true;
            if (unit == '\n') return XML_LINE_END_NONE;
        }
        if (scan_pending_cr) return unit == '\n' ? XML_LINE_END_CRLF : XML_LINE_END_CR;
        if (unit == '\r') scan_pending_cr = true;
        return unit == '\n' ? XML_LINE_END_LF : XML_LINE_END_NONE;
    }
};

namespace {

// Where the pool puts `size` bytes at the cursor: strings one byte past a
// multiple of 8 (so that they never pass for heap blocks), arrays of
// pointers at the next pointer-aligned address.
char* pool_fit(char* cursor, bool pointers) {
    if (!pointers) return xml_separately_owned(cursor) ? cursor + 1 : cursor;
    constexpr std::uintptr_t mask = alignof(char*) - 1;
    return reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(cursor) + mask) & ~mask);
}

// A place in a new block, when the newest has no room for the request.
char* pool_take_from_new_block(xml_document* document, std::size_t size, bool pointers) {
    xml_pool_block* newest = document->string_pool;
    if (newest == nullptr || document->pool_cursor != nullptr) {
        auto* block = static_cast<xml_pool_block*>(heap_alloc(xml_pool_block_size));
        if (block != nullptr) {
            block->next = document->string_pool;
            block->size = xml_pool_block_size;
            document->string_pool = block;
            document->pool_cursor = reinterpret_cast<char*>(block + 1);
        } else {
            document->pool_cursor = nullptr;
        }
    }
    if (document->pool_cursor == nullptr) return nullptr;
    char* place = pool_fit(document->pool_cursor, pointers);
    document->pool_cursor = place + size;
    return place;
}

// A place in the pool's blocks, or null when the request is too large for
// them or no block can be had.
inline char* pool_take(xml_document* document, std::size_t size, bool pointers) {
    if (size > xml_pool_largest_request) return nullptr;
    xml_pool_block* newest = document->string_pool;
    char* cursor = document->pool_cursor;
    // Most requests fit the newest block.
    if (newest != nullptr && cursor != nullptr) {
        char* place = pool_fit(cursor, pointers);
        if (place + size + 1 < reinterpret_cast<char*>(newest) + newest->size) {
            document->pool_cursor = place + size;
            return place;
        }
    }
    return pool_take_from_new_block(document, size, pointers);
}

constexpr std::uint64_t high_bits = 0x8080808080808080u;
constexpr std::uint64_t low_bits = 0x0101010101010101u;

// Copies n bytes, n > 0, a word at a time (the last word may overlap the
// one before; a short copy takes two overlapping halves or single bytes)
// and tells whether they were all below 0x80.
bool copy_ascii(char* to, const char* from, std::size_t n) {
    std::uint64_t seen = 0;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::uint64_t word = load_word(from + i);
            std::memcpy(to + i, &word, 8);
            seen |= word;
        }
        std::uint64_t last = load_word(from + n - 8);
        std::memcpy(to + n - 8, &last, 8);
        seen |= last;
    } else {
        seen = copy_below_8(to, from, n);
    }
    return (seen & high_bits) == 0;
}

// Whether a word's bytes are all below 0x80 and none is a line feed.
bool plain_word(std::uint64_t word) {
    std::uint64_t feeds = word ^ (low_bits * '\n');
    return ((word | ((feeds - low_bits) & ~feeds)) & high_bits) == 0;
}

} // namespace

namespace {

// Ends the load as failed for want of memory: the tree built so far stays,
// but nothing half-converted is passed off as the file's content.
void stop_for_memory(xml_document* document) {
    if (document->parser == nullptr || document->status != 0) return;
    document->status = XML_STATUS_OUT_OF_MEMORY;
    XML_StopParser(static_cast<XML_Parser>(document->parser), XML_FALSE);
}

// Grows the current node's text for `extra` more bytes and a terminator;
// returns where they go, or null (the text unchanged). `old` receives the
// length the text had.
char* grow_current_text(xml_document* document, std::size_t extra, std::size_t* old) {
    xml_node* node = document->current_node;
    xml_load_state* state = document->load_state;
    bool sized = state != nullptr && node->text != nullptr && xml_separately_owned(node->text);
    std::size_t length = 0;
    std::size_t capacity = 0;
    if (sized) {
        length = static_cast<std::size_t>(state->current.length);
        capacity = static_cast<std::size_t>(state->current.capacity);
    } else if (node->text != nullptr) {
        length = std::strlen(node->text);
        capacity = length + 1;
    }
    std::size_t need = length + extra + 1;
    if (node->text == nullptr || need > capacity) {
        char* grown = nullptr;
        std::size_t size = need;
        // Texts that the load keeps growing double, so a long run of small
        // pieces costs linear time.
        if (state != nullptr) size = std::max(need, capacity > 0 ? capacity * 2 : std::size_t{64});
        if (node->text != nullptr && !xml_separately_owned(node->text)) {
            // A pool string is never resized in place; it is copied out.
            grown = static_cast<char*>(heap_alloc_zeroed(need));
            size = need;
            if (grown != nullptr) std::memcpy(grown, node->text, length + 1);
        } else {
            grown = static_cast<char*>(heap_realloc(node->text, size));
            if (grown == nullptr && size != need) {
                size = need;
                grown = static_cast<char*>(heap_realloc(node->text, size));
            }
        }
        if (grown == nullptr) return nullptr;
        node->text = grown;
        capacity = size;
    }
    if (state != nullptr) {
        state->current.length = static_cast<std::int64_t>(length);
        state->current.capacity = static_cast<std::int64_t>(capacity);
    }
    *old = length;
    return node->text + length;
}

// Room on the text stack for `extra` more bytes of the current node's text
// and a terminator; returns where they go, or null (the text unchanged).
// A stack that moves takes the open nodes' text pointers along.
char* grow_stacked_text(xml_document* document, std::size_t extra) {
    xml_load_state* state = document->load_state;
    auto end = static_cast<std::size_t>(state->current.start + state->current.length);
    std::size_t need = end + extra + 1;
    if (need > state->texts_room) {
        std::size_t size = std::max({need, state->texts_room * 2, std::size_t{4096}});
        void* block = heap_realloc(state->texts, sizeof(xml_pool_block) + size);
        if (block == nullptr && size != need) {
            size = need;
            block = heap_realloc(state->texts, sizeof(xml_pool_block) + size);
        }
        if (block == nullptr) return nullptr;
        state->texts = static_cast<xml_pool_block*>(block);
        state->texts_room = size;
        xml_node* node = document->current_node;
        for (std::int32_t level = state->depth; level > 0; --level, node = node->parent) {
            const xml_load_state::open_text& at = level == state->depth ? state->current : state->outer[level];
            if (node->text != nullptr) node->text = state->text_base() + at.start;
        }
    }
    document->current_node->text = state->text_base() + state->current.start;
    return state->text_base() + end;
}

// Where `extra` more bytes of the current node's text go, or null.
inline char* grow_text(xml_document* document, std::size_t extra) {
    xml_load_state* state = document->load_state;
    if (state != nullptr && state->depth > 0) {
        // Most pieces fit the stack as it is.
        auto end = static_cast<std::size_t>(state->current.start + state->current.length);
        if (end + extra + 1 > state->texts_room) return grow_stacked_text(document, extra);
        document->current_node->text = state->text_base() + state->current.start;
        return state->text_base() + end;
    }
    std::size_t old = 0;
    return grow_current_text(document, extra, &old);
}

// Names are told apart by their length and their first and last eight
// bytes (a shorter one by all of them); any that share those only cost a
// longer probe.
std::uint32_t name_hash(const char* name, std::size_t length) {
    std::uint64_t hash = length;
    if (length >= 8) {
        hash ^= load_word(name) * 0x9E3779B97F4A7C15u;
        hash ^= load_word(name + length - 8) * 0xC2B2AE3D27D4EB4Fu;
    } else if (length > 0) {
        hash ^= read_below_8(name, length) * 0x9E3779B97F4A7C15u;
    }
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

using name_entry = xml_load_state::name_entry;

// Whether a[0, n) and b[0, n) hold the same bytes, compared a word at a
// time as name_hash reads them.
bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8)
            if (load_word(a + i) != load_word(b + i)) return false;
        return load_word(a + n - 8) == load_word(b + n - 8);
    }
    return n == 0 || read_below_8(a, n) == read_below_8(b, n);
}

// The slot that holds the name in a table of `slots` (a power of two), or
// the empty one where it would go.
name_entry& name_slot(name_entry* table, std::uint32_t slots, const char* name, std::size_t length,
                      std::uint32_t hash) {
    std::uint32_t at = hash & (slots - 1);
    while (table[at].name != nullptr &&
           (table[at].hash != hash || table[at].length != length || !same_bytes(table[at].name, name, length)))
        at = (at + 1) & (slots - 1);
    return table[at];
}

// Room for one more name in the table; false when it cannot grow, and the
// name is then copied on its own.
bool make_name_room(xml_load_state* state) {
    constexpr std::uint32_t largest = 1u << 16;
    if (state->name_count * 2 < state->name_slots) return true;
    if (state->name_slots >= largest) return false;
    std::uint32_t slots = state->name_slots == 0 ? 256 : state->name_slots * 2;
    auto* table = static_cast<name_entry*>(heap_alloc_zeroed(slots * sizeof(name_entry)));
    if (table == nullptr) return false;
    for (std::uint32_t i = 0; i < state->name_slots; ++i) {
        const name_entry& entry = state->names[i];
        if (entry.name != nullptr) name_slot(table, slots, entry.name, entry.length, entry.hash) = entry;
    }
    heap_free(state->names);
    state->names = table;
    state->name_slots = slots;
    return true;
}

// Counts the characters of UTF-8 text that 8-bit text cannot hold: every
// lead byte from 0xC4 up starts one above U+00FF (the parser hands over
// well-formed UTF-8 only).
void count_replacements(xml_document* document, const char* utf8, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0xC4 && b <= 0xF7) ++document->replacements;
    }
}

// The copy of utf8[0, n), its whole length, in the pool (or on the heap
// when the pool cannot have it) as 8-bit text. Plain ASCII, as names and
// most values are, is its own Latin-1; other text is converted over the
// copy, and `plain` tells which it was.
char* pool_copy(xml_document* document, const char* utf8, std::size_t n, bool* plain) {
    char* copy = pool_take(document, n + 1, false);
    if (copy == nullptr) copy = static_cast<char*>(heap_alloc(n + 1));
    if (copy == nullptr) return nullptr;
    *plain = copy_ascii(copy, utf8, n + 1);
    if (!*plain) {
        utf8_to_latin1_into(utf8, n, copy);
        count_replacements(document, utf8, n);
    }
    return copy;
}

// The pool copy of an element or attribute name, shared with every node
// that has the same one. Only plain ASCII names that the pool holds are
// shared: another name's Latin-1 copy differs from the parser's bytes, and
// a heap copy is freed with its node.
char* pool_name(xml_document* document, const char* utf8) {
    xml_load_state* state = document->load_state;
    if (state == nullptr || utf8 == nullptr) return xml_pool_strdup(document, utf8);
    std::size_t length = std::strlen(utf8);
    std::uint32_t hash = name_hash(utf8, length);
    if (state->name_slots > 0) {
        if (char* known = name_slot(state->names, state->name_slots, utf8, length, hash).name) return known;
    }
    bool plain = false;
    char* copy = pool_copy(document, utf8, length, &plain);
    if (copy == nullptr || xml_separately_owned(copy) || !plain || length > UINT32_MAX || !make_name_room(state))
        return copy;
    name_slot(state->names, state->name_slots, copy, length, hash) = {copy, static_cast<std::uint32_t>(length), hash};
    ++state->name_count;
    return copy;
}

void note_appended(xml_document* document, std::size_t added) {
    document->text_counter += static_cast<std::int32_t>(added);
    if (document->load_state != nullptr) document->load_state->current.length += static_cast<std::int64_t>(added);
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
    if (document->current_node->kind == XML_NODE_ELEMENT) {
        if (c <= 0xFF && document->held_form != XML_HELD_LATIN1 && *event < 0) *event = xml_event_kind(document);
        if (c <= 0xFF && *event == XML_EVENT_ENTITY && document->held_form == XML_HELD_UTF8) {
            std::size_t held = static_cast<std::size_t>(xml_hold_expanded(in + *at, count - *at, out, &length));
            *at += length - 1;
            return held;
        }
        *at += length - 1;
        bool reference = c > 0xFF || *event == XML_EVENT_CHARACTER_REFERENCE;
        return static_cast<std::size_t>(xml_hold_parsed(document, c, reference, out));
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

// The copy of an attribute value, the index-th of its tag, as the tree
// holds it; null when memory ran short.
char* pool_value(xml_document* document, const char* utf8, int index) {
    std::size_t length = std::strlen(utf8);
    char* copy = pool_take(document, length + 1, false);
    if (copy == nullptr) copy = static_cast<char*>(heap_alloc(length + 1));
    if (copy == nullptr || copy_ascii(copy, utf8, length + 1)) return copy;
    text held;
    if (xml_hold_attribute_value(document, utf8, index, &held) && held.size() <= length) {
        std::memcpy(copy, held.c_str(), held.size() + 1);
        return copy;
    }
    if (xml_separately_owned(copy)) heap_free(copy);
    if (held.empty()) return nullptr;
    copy = pool_take(document, held.size() + 1, false);
    if (copy == nullptr) copy = static_cast<char*>(heap_alloc(held.size() + 1));
    if (copy != nullptr) std::memcpy(copy, held.c_str(), held.size() + 1);
    return copy;
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

// Handlers. The user data is the document being loaded; once a handler has
// failed the load, later callbacks (Expat may deliver a few) change nothing.

xml_document* loading(void* user_data) {
    auto* document = static_cast<xml_document*>(user_data);
    return document->status == 0 ? document : nullptr;
}

void on_start(void* user_data, const XML_Char* name, const XML_Char** attributes) {
    xml_document* document = loading(user_data);
    if (document == nullptr) return;
    xml_node* node = xml_new_node(document, XML_NODE_ELEMENT);
    if (node == nullptr) return;
    node->name = pool_name(document, name);
    if (node->name == nullptr) return stop_for_memory(document);
    std::size_t strings = 0;
    while (attributes[strings] != nullptr) ++strings;
    if (strings == 0) return;
    if (strings / 2 > INT16_MAX) return stop_for_memory(document);
    // Most arrays are small and lie in the pool, pointer-aligned, which the
    // node records (the address alone cannot tell them from heap blocks);
    // one too large for the pool is a heap block of its own.
    auto** array = reinterpret_cast<char**>(pool_take(document, strings * sizeof(char*), true));
    if (array != nullptr) {
        std::memset(array, 0, strings * sizeof(char*));
        node->attributes_pooled = 1;
    } else {
        array = static_cast<char**>(heap_alloc_zeroed(strings * sizeof(char*)));
        if (array == nullptr) return stop_for_memory(document);
    }
    node->attributes = array;
    node->attribute_count = static_cast<std::int16_t>(strings / 2);
    for (std::size_t i = 0; i < strings; ++i) {
        array[i] = i % 2 == 0 ? pool_name(document, attributes[i])
                              : pool_value(document, attributes[i], static_cast<int>(i / 2));
        if (array[i] == nullptr) return stop_for_memory(document);
    }
}

void on_end(void* user_data, const XML_Char*) {
    if (xml_document* document = loading(user_data)) xml_close_node(document);
}

void on_text(void* user_data, const XML_Char* bytes, int length) {
    xml_document* document = loading(user_data);
    if (document != nullptr && document->current_node != nullptr && bytes != nullptr && length >= 0)
        append_text(document, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(length));
}

// An entity reference the parser did not expand (one to an external entity
// it does not read) stays in element text as the reference it was.
void hold_entity_reference(xml_document* document, const char* bytes, int length) {
    char* out = grow_text(document, static_cast<std::size_t>(length) + 1);
    if (out == nullptr) return stop_for_memory(document);
    *out = xml_held_marker;
    note_appended(document, 1 + utf8_to_latin1_into(bytes, static_cast<std::size_t>(length), out + 1));
}

void on_default(void* user_data, const XML_Char* bytes, int length) {
    xml_document* document = loading(user_data);
    if (document == nullptr) return;
    const xml_node* node = document->current_node;
    if (node != nullptr && node->kind == XML_NODE_ELEMENT && length > 2 && bytes[0] == '&' && bytes[length - 1] == ';')
        return hold_entity_reference(document, bytes, length);
    xml_append_raw(document, bytes, length);
}

void on_comment(void* user_data, const XML_Char* data) {
    xml_document* document = loading(user_data);
    if (document == nullptr || xml_new_node(document, XML_NODE_COMMENT) == nullptr) return;
    xml_append_text(document, data, static_cast<int>(std::strlen(data)));
    xml_close_node(document);
}

void on_cdata_start(void* user_data) {
    if (xml_document* document = loading(user_data)) xml_new_node(document, XML_NODE_CDATA);
}

void on_cdata_end(void* user_data) {
    xml_document* document = loading(user_data);
    if (document != nullptr && document->current_node != nullptr && document->current_node->kind == XML_NODE_CDATA)
        xml_close_node(document);
}

void on_doctype_start(void* user_data, const XML_Char* name, const XML_Char* system_id, const XML_Char* public_id,
                      int has_internal_subset) {
    xml_document* document = loading(user_data);
    if (document == nullptr || xml_new_node(document, XML_NODE_DTD) == nullptr) return;
    char* opening = xml_compose_doctype(name, system_id, public_id, has_internal_subset);
    if (opening == nullptr) return stop_for_memory(document);
    xml_append_raw(document, opening, static_cast<int>(std::strlen(opening)));
    heap_free(opening);
    if (!has_internal_subset) xml_close_node(document);
}

void on_doctype_end(void* user_data) {
    xml_document* document = loading(user_data);
    if (document == nullptr || document->current_node == nullptr || document->current_node->kind != XML_NODE_DTD)
        return;
    xml_append_raw(document, "]>", 2);
    xml_close_node(document);
}

bool has_byte_order_mark(const xml_load_state& state);

// A UTF-16 file shows a mark or one zero byte among its first two.
bool utf16_file(const xml_load_state& state) {
    const unsigned char* b = state.lead;
    bool zero = state.lead_count >= 2 && (b[0] == 0) != (b[1] == 0);
    return zero || (state.lead_count >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)));
}

// How the tree holds characters, from what the file's first bytes and its
// declaration (when it has one, it comes before any content) say.
void choose_held_form(xml_document* document) {
    const xml_load_state* state = document->load_state;
    bool utf16 = state != nullptr && document->utf8_mark == 0 && utf16_file(*state);
    xml_choose_held_form(document, document->declared_encoding, utf16, document->utf8_mark != 0);
}

void on_declaration(void* user_data, const XML_Char* version, const XML_Char* encoding, int standalone) {
    xml_document* document = loading(user_data);
    if (document == nullptr || version == nullptr) return; // a text declaration
    if (encoding != nullptr) {
        if (!xml_same_label(encoding, "UTF-8") && document->load_state != nullptr)
            document->load_state->declared_other_encoding = true;
        if (document->encoding_fixed == 0) {
            if (xml_same_label(encoding, "US-ASCII") || xml_same_label(encoding, "ISO-8859-1")) {
                document->encoding = ENCODING_8BIT;
            } else if (xml_same_label(encoding, "UTF-16")) {
                document->encoding = ENCODING_UTF16;
            } else {
                document->encoding = ENCODING_UTF8;
            }
        }
    }
    document->standalone = standalone;
    document->has_declaration = 1;
    if (encoding != nullptr) {
        document->declared_encoding = xml_pool_strdup(document, encoding);
        if (document->declared_encoding == nullptr) return stop_for_memory(document);
    }
    choose_held_form(document);
}

void on_instruction(void* user_data, const XML_Char* target, const XML_Char* data) {
    xml_document* document = loading(user_data);
    if (document == nullptr) return;
    xml_node* node = xml_new_node(document, XML_NODE_INSTRUCTION);
    if (node == nullptr) return;
    node->name = xml_pool_strdup(document, target);
    if (node->name == nullptr) return stop_for_memory(document);
    xml_append_text(document, data, static_cast<int>(std::strlen(data)));
    xml_close_node(document);
}

// Expat allocates from the runtime heap like everything else, so that its
// memory is counted and its failures can be injected.
const XML_Memory_Handling_Suite parser_memory{heap_alloc, heap_realloc, heap_free};

XML_Parser create_parser(int encoding) {
    const char* name = nullptr;
    if (encoding == ENCODING_8BIT) name = "ISO-8859-1";
    if (encoding == ENCODING_UTF16) name = "UTF-16";
    if (encoding == ENCODING_UTF8) name = "UTF-8";
    XML_Parser parser = XML_ParserCreate_MM(name, &parser_memory, nullptr);
    if (parser == nullptr) return nullptr;
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    // The expanding form: references to internal entities reach the tree as
    // their replacement text, so a saved document still means the same.
    XML_SetDefaultHandlerExpand(parser, on_default);
    XML_SetCommentHandler(parser, on_comment);
    XML_SetCdataSectionHandler(parser, on_cdata_start, on_cdata_end);
    XML_SetDoctypeDeclHandler(parser, on_doctype_start, on_doctype_end);
    XML_SetXmlDeclHandler(parser, on_declaration);
    XML_SetProcessingInstructionHandler(parser, on_instruction);
    return parser;
}

void record_error(xml_document* document, XML_Parser parser) {
    document->error_line = static_cast<std::int32_t>(XML_GetCurrentLineNumber(parser));
    document->error_column = static_cast<std::int32_t>(XML_GetCurrentColumnNumber(parser)) + 1;
    document->error_message = document->status == XML_STATUS_READ_ERROR
                                  ? "file could not be read"
                                  : XML_ErrorString(static_cast<XML_Error>(document->status));
}

bool has_byte_order_mark(const xml_load_state& state) {
    const unsigned char* b = state.lead;
    if (state.lead_count >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return true;
    return state.lead_count >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF));
}

void read_and_parse(xml_document* document, XML_Parser parser, xml_byte_source* source, xml_load_state* state) {
    std::int64_t total = 0;
    std::int64_t chunk = source->chunk_size > 0 ? source->chunk_size : xml_load_chunk_size;
    while (total < source->size) {
        // The first piece is at least three bytes, so a UTF-8 mark is seen whole.
        std::int64_t want = total == 0 ? std::max<std::int64_t>(chunk, 3) : chunk;
        auto n = static_cast<int>(std::min(want, source->size - total));
        void* buffer = XML_GetBuffer(parser, n);
        if (buffer == nullptr) {
            document->status = XML_STATUS_OUT_OF_MEMORY;
            return record_error(document, parser);
        }
        std::uint32_t got = source->read(source->context, buffer, static_cast<std::uint32_t>(n));
        if (got > static_cast<std::uint32_t>(n)) got = 0;
        total += got;
        for (std::uint32_t i = 0; i < got && state->lead_count < 3; ++i)
            state->lead[state->lead_count++] = static_cast<const unsigned char*>(buffer)[i];
        if (document->line_end_style == XML_LINE_END_NONE)
            document->line_end_style = state->scan_line_ends(static_cast<const unsigned char*>(buffer), got);
        std::uint32_t fed = got;
        if (total == got && state->pass_utf8_mark && got >= 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) {
            std::memmove(buffer, static_cast<char*>(buffer) + 3, got - 3);
            fed = got - 3;
            document->utf8_mark = 1;
        }
        if (total == got) choose_held_form(document);
        // A file that delivers nothing before its size is reached has shrunk
        // under us: what arrived is all there is, so the parse ends here.
        bool final = got == 0 || total >= source->size;
        bool parsed = XML_ParseBuffer(parser, static_cast<int>(fed), final ? XML_TRUE : XML_FALSE) != XML_STATUS_ERROR;
        // A file that came up short (a read error, or it shrank) is not the
        // file: whatever the parser made of the part that arrived, the load
        // failed, and nobody may save the partial tree over the file.
        if (got == 0 && total < source->size) {
            document->status = XML_STATUS_READ_ERROR;
            return record_error(document, parser);
        }
        if (!parsed) {
            // A handler that ran out of memory stopped the parser itself.
            if (document->status == 0) document->status = static_cast<std::int32_t>(XML_GetErrorCode(parser));
            return record_error(document, parser);
        }
        if (final) return;
    }
}

struct file_reader {
    os_handle handle;
};

std::uint32_t read_file(void* context, void* into, std::uint32_t size) {
    return os_file_read(static_cast<file_reader*>(context)->handle, into, size);
}

} // namespace

void* xml_pool_alloc(xml_document* document, std::size_t size) {
    char* place = pool_take(document, size, false);
    return place != nullptr ? place : heap_alloc(size);
}

char* xml_pool_strdup(xml_document* document, const char* utf8) {
    if (utf8 == nullptr) return nullptr;
    bool plain = false;
    return pool_copy(document, utf8, std::strlen(utf8), &plain);
}

char* xml_compose_doctype(const char* name, const char* system_id, const char* public_id, int has_internal_subset) {
    if (name == nullptr) name = "";
    std::size_t size = std::strlen(name) + 30;
    if (system_id != nullptr) size += std::strlen(system_id);
    if (public_id != nullptr) size += std::strlen(public_id);
    auto* out = static_cast<char*>(heap_alloc(size));
    if (out == nullptr) return nullptr;
    char* p = out;
    auto put = [&p](const char* s) {
        std::size_t n = std::strlen(s);
        std::memcpy(p, s, n);
        p += n;
    };
    auto quoted = [&put](const char* id) {
        bool has_double_quote = std::strchr(id, '"') != nullptr;
        put(has_double_quote ? " '" : " \"");
        put(id);
        put(has_double_quote ? "'" : "\"");
    };
    put("<!DOCTYPE ");
    put(name);
    if (system_id != nullptr) put(public_id != nullptr ? " PUBLIC" : " SYSTEM");
    if (public_id != nullptr) quoted(public_id);
    if (system_id != nullptr) quoted(system_id);
    put(has_internal_subset ? " [" : ">");
    *p = '\0';
    return out;
}

void xml_append_text(xml_document* document, const char* bytes, int length) {
    if (document == nullptr || document->current_node == nullptr || bytes == nullptr || length < 0) return;
    append_text(document, reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(length));
}

void xml_append_raw(xml_document* document, const char* bytes, int length) {
    if (document == nullptr || document->current_node == nullptr || bytes == nullptr || length < 0) return;
    char* out = grow_text(document, static_cast<std::size_t>(length));
    if (out == nullptr) return stop_for_memory(document);
    count_replacements(document, bytes, static_cast<std::size_t>(length));
    note_appended(document, utf8_to_latin1_into(bytes, static_cast<std::size_t>(length), out));
}

xml_node* xml_new_node(xml_document* document, int kind) {
    block_pool* pool = xml_node_pool();
    auto* node = pool != nullptr ? static_cast<xml_node*>(pool_alloc_zeroed(pool)) : nullptr;
    if (node == nullptr) {
        stop_for_memory(document);
        return nullptr;
    }
    if (document->load_state != nullptr && !document->load_state->push()) {
        pool_free(pool, node);
        stop_for_memory(document);
        return nullptr;
    }
    node->kind = static_cast<std::int16_t>(kind);
    node->document = document->self_id;
    node->preceding_text_length = document->text_counter;
    if (kind == XML_NODE_ELEMENT && document->main_element == nullptr) document->main_element = node;
    node->parent = document->current_node;
    if (document->last_closed_child != nullptr) {
        document->last_closed_child->next_sibling = node;
        node->prev_sibling = document->last_closed_child;
    } else if (document->current_node != nullptr) {
        document->current_node->first_child = node;
    }
    document->current_node = node;
    document->last_closed_child = nullptr;
    document->text_counter = 0;
    return node;
}

void xml_close_node(xml_document* document) {
    xml_node* node = document->current_node;
    // The document node is never closed; its text stays a block of its own.
    if (node == nullptr || node == document->document_node) return;
    xml_load_state* state = document->load_state;
    if (state != nullptr && state->depth > 0) {
        if (node->text != nullptr) {
            auto length = static_cast<std::size_t>(state->current.length);
            if (auto* copy = static_cast<char*>(xml_pool_alloc(document, length + 1))) {
                std::memcpy(copy, node->text, length + 1);
                node->text = copy;
            } else {
                // The text stays where it is, and the stack with it.
                state->texts_in_tree = true;
                stop_for_memory(document);
            }
        }
    } else if (node->text != nullptr && xml_separately_owned(node->text)) {
        // Outside a load, a grown text moves to the pool as it always did.
        std::size_t length = std::strlen(node->text);
        if (length + 1 <= xml_pool_largest_request) {
            if (auto* copy = static_cast<char*>(xml_pool_alloc(document, length + 1))) {
                std::memcpy(copy, node->text, length + 1);
                heap_free(node->text);
                node->text = copy;
            }
        }
    }
    if (state != nullptr) state->pop();
    document->last_closed_child = node;
    document->text_counter = 0;
    document->current_node = node->parent;
}

// A load that ended with texts on the stack (nodes still open, or a text
// that could not be copied) gives the stack to the document's pool, which
// frees it with the document; no allocation is needed for that.
void keep_stacked_texts(xml_document* document, xml_load_state* state) {
    if (state->texts == nullptr) return;
    bool in_tree = state->texts_in_tree;
    xml_node* node = document->current_node;
    for (std::int32_t level = state->depth; level > 0 && node != nullptr; --level, node = node->parent)
        in_tree = in_tree || node->text != nullptr;
    if (!in_tree) return;
    xml_pool_block* block = state->texts;
    state->texts = nullptr;
    block->size = sizeof(xml_pool_block) + state->texts_room;
    // Behind the newest block, whose free space the cursor keeps.
    xml_pool_block* newest = document->string_pool;
    if (newest != nullptr) {
        block->next = newest->next;
        newest->next = block;
    } else {
        block->next = nullptr;
        document->string_pool = block;
        document->pool_cursor = nullptr;
    }
}

std::intptr_t xml_load_from(object_id slot, xml_byte_source* source, int encoding) {
    if (source == nullptr || source->read == nullptr || source->size <= 0 || source->size > INT32_MAX) return 0;
    XML_Parser parser = create_parser(encoding);
    if (parser == nullptr) return 0;
    block_pool* pool = xml_node_pool();
    auto* node = pool != nullptr ? static_cast<xml_node*>(pool_alloc_zeroed(pool)) : nullptr;
    auto* document = node != nullptr && xml_table() != nullptr
                         ? static_cast<xml_document*>(slot_acquire(xml_table(), slot))
                         : nullptr;
    if (document == nullptr) {
        if (node != nullptr) pool_free(pool, node);
        XML_ParserFree(parser);
        return 0;
    }
    object_id id = slot == -1 ? reinterpret_cast<object_id>(document) : slot;
    document->live = 1;
    document->document_node = node;
    node->kind = XML_NODE_DOCUMENT;
    node->document = id;
    document->encoding = encoding == XML_ENCODING_FROM_FILE ? ENCODING_UTF8 : encoding;
    document->standalone = -1;
    document->status = 0;
    document->self_id = id;
    document->parser = parser;
    document->current_node = node;
    document->last_closed_child = nullptr;
    document->text_counter = 0;
    document->line_end_style = XML_LINE_END_NONE;
    document->has_declaration = 0;
    document->declared_encoding = nullptr;
    document->held_form = XML_HELD_LATIN1;
    // The first block is sized to the file, whose strings it will mostly
    // hold: the file's size behind the header words.
    std::size_t first = static_cast<std::size_t>(source->size) + sizeof(xml_pool_block);
    if (auto* block = static_cast<xml_pool_block*>(heap_alloc(first))) {
        block->next = nullptr;
        block->size = first;
        document->string_pool = block;
        document->pool_cursor = reinterpret_cast<char*>(block + 1);
    }
    document->encoding_fixed = encoding != XML_ENCODING_FROM_FILE ? 1 : 0;
    xml_load_state state;
    state.pass_utf8_mark = encoding == ENCODING_8BIT;
    document->load_state = &state;
    XML_SetUserData(parser, document);

    read_and_parse(document, parser, source, &state);
    keep_stacked_texts(document, &state);

    // A document kept as 8-bit bytes from a file that any reader takes as
    // UTF-8 must say UTF-8 when saved, or its non-ASCII bytes would be read
    // back as two characters each. A UTF-8 mark says so louder than any
    // declaration.
    bool utf8_file = document->utf8_mark != 0 ||
                     (!has_byte_order_mark(state) && !utf16_file(state) && !state.declared_other_encoding);
    document->declare_utf8 = encoding == ENCODING_8BIT && utf8_file ? 1 : 0;
    document->load_state = nullptr;
    document->parser = nullptr;
    XML_ParserFree(parser);
    return reinterpret_cast<std::intptr_t>(document);
}

std::intptr_t xml_load(object_id slot, const char* path, int encoding) {
    if (path == nullptr || *path == '\0') return 0;
    os_handle handle = os_file_open(path, OS_GENERIC_READ, OS_SHARE_READ, OS_OPEN_EXISTING, OS_ATTRIBUTE_NORMAL);
    if (handle == 0) return 0;
    // Files of 2 GiB or more are refused rather than read in part.
    std::int64_t size = os_file_size(handle);
    if (size <= 0 || size > INT32_MAX) {
        os_file_close(handle);
        return 0;
    }
    file_reader reader{handle};
    xml_byte_source source{read_file, &reader, size, xml_load_chunk_size};
    std::intptr_t result = xml_load_from(slot, &source, encoding);
    os_file_close(handle);
    return result;
}

} // namespace quillgate
