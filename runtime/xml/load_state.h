// The loader's own parts: what a load in progress keeps beside its
// document, and the helpers its files share. Nothing outside runtime/xml's
// loader includes this; the hot helpers are defined here so that every
// caller still inlines them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <expat.h>

#include "runtime/core/heap.h"
#include "runtime/xml/xml.h"

namespace quillgate {

// The file's first line end decides the style, wherever the pieces the
// parser is fed happen to break: a CR at the end of one piece waits for
// the next unit. A line feed that opens the file is not taken as a line
// end. Units are whole characters of the file's width: in UTF-16 a
// character such as U+4E0D holds a byte 0x0D that is no carriage return.
struct xml_line_end_scan {
    bool scan_started = false;
    bool scan_pending_cr = false;
    std::int32_t unit_width = 0; // 0 until the first two bytes tell: 1 or 2
    bool big_endian = false;
    unsigned char unit_bytes[2]{};
    std::int32_t unit_filled = 0;
    std::int32_t mark_units = 0;

    // The style the bytes so far show, once they show one; XML_LINE_END_NONE
    // until then.
    int scan(const unsigned char* bytes, std::uint32_t n);

private:
    int take_unit(unsigned unit);
};

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
    // Where the tree grows: the node that is open, its child that closed
    // last (the next one's older sibling), and the bytes of its text since
    // that child, which the next child records as its preceding text.
    object_id self_id = 0; // the document's id, which every node records
    xml_node* current_node = nullptr;
    xml_node* last_closed_child = nullptr;
    std::int32_t text_counter = 0;

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
    xml_line_end_scan line_ends;
    // What the file shows about its own encoding (for the held form).
    unsigned char lead[3]{};
    std::int32_t lead_count = 0;
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
};

// Building the tree while a load runs: the opening of a DOCTYPE as its
// text (a heap string the caller frees, or null); text appended to the open
// node as the tree holds it (xml_append_raw: markup, taken to 8-bit text
// without the rules for line ends and references); places and copies in the
// string pool; nodes opened and closed.
char* xml_compose_doctype(const char* name, const char* system_id, const char* public_id, int has_internal_subset);
void xml_append_text(xml_document* document, const char* bytes, int length);
void xml_append_raw(xml_document* document, const char* bytes, int length);
void* xml_pool_alloc(xml_document* document, std::size_t size);
char* xml_pool_strdup(xml_document* document, const char* utf8);
xml_node* xml_new_node(xml_document* document, int kind);
void xml_close_node(xml_document* document);

namespace loader {

constexpr std::uint64_t high_bits = 0x8080808080808080u;
constexpr std::uint64_t low_bits = 0x0101010101010101u;

// ---------------------------------------------------------------- the load
// (load.cpp)

// Ends the load as failed for want of memory: the tree built so far stays,
// but nothing half-converted is passed off as the file's content.
void stop_for_memory(xml_document* document);

// How the tree holds characters, from what the file's first bytes and its
// declaration (when it has one, it comes before any content) say.
void choose_held_form(xml_document* document);

// ---------------------------------------------------------------- the handlers
// (handlers.cpp, load_text.cpp)

// The document that a handler's user data is, or null once a handler has
// failed the load: later callbacks (Expat may deliver a few) change nothing.
inline xml_document* loading(void* user_data) {
    auto* document = static_cast<xml_document*>(user_data);
    return document->status == 0 ? document : nullptr;
}

// The node the load has open: the one its text and new nodes go into.
inline xml_node* open_node(const xml_document* document) { return document->load_state->current_node; }

// A parser for the encoding flag, with every handler set.
XML_Parser create_parser(int encoding);
void on_text(void* user_data, const XML_Char* bytes, int length);
void on_default(void* user_data, const XML_Char* bytes, int length);

// ---------------------------------------------------------------- the string pool
// (string_pool.cpp)

// Where the pool puts `size` bytes at the cursor: strings one byte past a
// multiple of 8 (so that they never pass for heap blocks), arrays of
// pointers at the next pointer-aligned address.
inline char* pool_fit(char* cursor, bool pointers) {
    if (!pointers) return xml_separately_owned(cursor) ? cursor + 1 : cursor;
    constexpr std::uintptr_t mask = alignof(char*) - 1;
    return reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(cursor) + mask) & ~mask);
}

// A place in a new block, when the newest has no room for the request.
char* pool_take_from_new_block(xml_document* document, std::size_t size, bool pointers);

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

// Copies n bytes, n > 0, and tells whether they were all below 0x80.
bool copy_ascii(char* to, const char* from, std::size_t n);

// Counts the characters of UTF-8 text that 8-bit text cannot hold: every
// lead byte from 0xC4 up starts one above U+00FF (the parser hands over
// well-formed UTF-8 only).
inline void count_replacements(xml_document* document, const char* utf8, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0xC4 && b <= 0xF7) ++document->replacements;
    }
}

// The copy of utf8[0, n), its whole length, in the pool (or on the heap
// when the pool cannot have it) as 8-bit text; `plain` tells whether it
// was plain ASCII, which is its own Latin-1.
char* pool_copy(xml_document* document, const char* utf8, std::size_t n, bool* plain);

// ---------------------------------------------------------------- the name table
// (name_table.cpp)

// The pool copy of an element or attribute name, shared with every node
// that has the same one.
char* pool_name(xml_document* document, const char* utf8);

// ---------------------------------------------------------------- the text stack
// (text_stack.cpp)

// Grows the document node's text, which is the current one while no other
// node is open, for `extra` more bytes and a terminator; returns where they
// go, or null (the text unchanged).
char* grow_current_text(xml_document* document, std::size_t extra);
// Room on the text stack for `extra` more bytes of the current node's text
// and a terminator; returns where they go, or null (the text unchanged).
char* grow_stacked_text(xml_document* document, std::size_t extra);

// Where `extra` more bytes of the current node's text go, or null.
inline char* grow_text(xml_document* document, std::size_t extra) {
    xml_load_state* state = document->load_state;
    if (state->depth == 0) return grow_current_text(document, extra);
    // Most pieces fit the stack as it is.
    auto end = static_cast<std::size_t>(state->current.start + state->current.length);
    if (end + extra + 1 > state->texts_room) return grow_stacked_text(document, extra);
    state->current_node->text = state->text_base() + state->current.start;
    return state->text_base() + end;
}

// The current node's text grew by `added` bytes.
inline void note_appended(xml_document* document, std::size_t added) {
    xml_load_state* state = document->load_state;
    state->text_counter += static_cast<std::int32_t>(added);
    state->current.length += static_cast<std::int64_t>(added);
}

// A load that ended with texts on the stack hands them to the document.
void keep_stacked_texts(xml_document* document, xml_load_state* state);

} // namespace loader
} // namespace quillgate
