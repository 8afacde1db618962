// XML documents: trees built from Expat's callbacks so that a loaded and
// saved file keeps its layout; node paths; attributes; saving.
//
// There are no text nodes. All character data a node encloses is one string
// on that node, and every child records how many bytes of its parent's text
// come before it. Strings hold one byte per character (ISO-8859-1 values).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/pool.h"
#include "runtime/core/slots.h"
#include "runtime/core/text.h"
#include "runtime/platform/charset.h"
#include "runtime/platform/file_io.h"

namespace quillgate {

constexpr std::int16_t XML_NODE_DOCUMENT = 0;
constexpr std::int16_t XML_NODE_ELEMENT = 1;
constexpr std::int16_t XML_NODE_COMMENT = 2;
constexpr std::int16_t XML_NODE_CDATA = 3;
constexpr std::int16_t XML_NODE_DTD = 4;
constexpr std::int16_t XML_NODE_INSTRUCTION = 5;

struct xml_node {
    xml_node* parent;
    xml_node* first_child;
    xml_node* prev_sibling;
    xml_node* next_sibling;
    char* name;
    char* text;
    char** attributes; // name, value, name, value, ...
    object_id document;
    std::int32_t preceding_text_length;
    std::int16_t kind;
    std::int16_t attribute_count;
    std::int16_t attribute_spare;
    // 1 while `attributes` lies in the document's string pool, which frees
    // it with the document; 0 when it is a heap block of its own.
    std::int16_t attributes_pooled;
};

// Document status of a load that ran out of memory (the parser's own code)
// and of one whose file delivered fewer bytes than its size (a read error,
// or a file that shrank while it was read; a code beyond the parser's).
constexpr std::int32_t XML_STATUS_OUT_OF_MEMORY = 1;
constexpr std::int32_t XML_STATUS_READ_ERROR = 256;

// How a document's file ends its lines (line_end_style), told by its first
// line end; none until one is seen. A save writes line ends this way.
constexpr std::int32_t XML_LINE_END_NONE = 0;
constexpr std::int32_t XML_LINE_END_CRLF = 1;
constexpr std::int32_t XML_LINE_END_LF = 2;
constexpr std::int32_t XML_LINE_END_CR = 4;

struct xml_pool_block; // a string-pool block: link, size, then strings
struct xml_load_state; // what a load in progress keeps beside the document

struct xml_document {
    live_marker live;
    xml_node* document_node;
    xml_node* main_element;
    std::int32_t encoding;
    std::int32_t standalone;
    std::int32_t line_end_style;
    std::int32_t status;
    std::int32_t error_line;
    std::int32_t error_column;
    const char* error_message;
    xml_pool_block* string_pool;
    void* parser;
    std::int32_t encoding_fixed;
    char* pool_cursor;
    // 1 when a document loaded as 8-bit text came from a file that is UTF-8
    // to any reader: the saver then names UTF-8 in the declaration.
    std::int32_t declare_utf8;
    // 1 when such a file began with the UTF-8 byte-order mark: the loader
    // passes the mark over, so that the parser reads the bytes as they are,
    // and the saver writes it back.
    std::int32_t utf8_mark;
    // Characters the loader had to replace ("?" or a space) because 8-bit
    // text cannot hold them. Saving such a document loses them for good.
    std::int32_t replacements;
    // While xml_load runs: the text sizes of the open nodes; null otherwise.
    xml_load_state* load_state;
    // 1 when the file opened with an XML declaration; the encoding name it
    // gave, as it was spelt (a pool string), or null.
    std::int32_t has_declaration;
    const char* declared_encoding;
    // How the tree holds characters (XML_HELD_*), and for XML_HELD_CHARSET
    // what the declared set's bytes from 0x80 up mean (0 where a byte is no
    // character by itself).
    std::int32_t held_form;
    std::uint16_t charset_bytes[charset_high_bytes];
    // 1 when a save may name the declared encoding: the file's bytes are
    // in it (not a UTF-16 file, which an 8-bit tree saves as ISO-8859-1).
    std::int32_t keeps_declared_name;
};

// How an 8-bit tree holds a character that a reference or a UTF-16 file
// gave it. Characters its file spells in bytes are those bytes. Any other is
// held as the bytes that mean it in the encoding the document is saved in,
// and where that has none, as xml_held_marker followed by the character in
// UTF-8, which a save writes back as a character reference. XML text never
// holds the byte 0x01, so the marker cannot be mistaken; and a character has
// one form only, so a lookup or comparison sees the character, not how the
// file spelt it (&#x516C; and &#20844; are one). The marker followed by "&"
// holds an entity reference the parser did not expand, through its ";".
constexpr char xml_held_marker = '\x01';
// The most bytes xml_hold_character writes.
constexpr int xml_held_max = 5;
// The file's own bytes are UTF-8: every character as its UTF-8 bytes.
constexpr std::int32_t XML_HELD_UTF8 = 1;
// Up to U+00FF as one byte (ISO-8859-1, and every tree that is not a UTF-8
// or 8-bit file's own bytes).
constexpr std::int32_t XML_HELD_LATIN1 = 2;
// ASCII, and what the declared 8-bit set has one byte for.
constexpr std::int32_t XML_HELD_CHARSET = 3;

// The bytes that hold `code_point` in the document's tree, into `out`
// (xml_held_max bytes); their count.
int xml_hold_character(const xml_document* document, std::uint32_t code_point, char* out);
// Held text back to the characters it means, as UTF-16 little-endian bytes,
// or the empty text when a byte means no character in the document's
// encoding. False only when memory ran short.
bool xml_held_to_utf16(const xml_document* document, const char* held, std::size_t size, text* utf16);

struct xml_pool_block {
    xml_pool_block* next; // the next older block
    std::size_t size;     // the whole block, these header words included
};

// Every string-pool block after the first, and the largest request the pool
// serves itself; larger requests are heap blocks of their own.
constexpr std::size_t xml_pool_block_size = 524288;
constexpr std::size_t xml_pool_largest_request = 1024;
// The parser is fed at most this many bytes at a time.
constexpr std::int32_t xml_load_chunk_size = 16384;

// Heap blocks start at multiples of 8 and the string pool never hands out
// such an address, so a tree string or array at a multiple of 8 owns itself
// (and is freed on its own) while any other belongs to the pool.
inline bool xml_separately_owned(const void* p) {
    return p != nullptr && (reinterpret_cast<std::uintptr_t>(p) & 7u) == 0;
}

// Start-up: the document table (8 slots) and the node pool.
void xml_table_init();
slot_table* xml_table();
block_pool* xml_node_pool();
// The live document under an id, or null.
xml_document* xml_document_get(object_id id);

// The encoding flag of a load that lets the file tell (its mark or
// declaration, else UTF-8); the others are the ENCODING_ flags of files.
constexpr int XML_ENCODING_FROM_FILE = -1;

// Non-zero once a document exists (its address), whether or not the parse
// succeeded; 0 when nothing was loaded.
std::intptr_t xml_load(object_id slot, const char* path, int encoding);

// Where xml_load takes its bytes from: `read` fills `into` with up to `size`
// bytes and returns how many it gave (0 at the end or on error). The file
// loader reads its file in xml_load_chunk_size pieces; tests feed memory in
// pieces of any size through the same path.
struct xml_byte_source {
    std::uint32_t (*read)(void* context, void* into, std::uint32_t size);
    void* context;
    std::int64_t size; // the bytes promised; the loop ends once they arrived
    std::int32_t chunk_size;
};
std::intptr_t xml_load_from(object_id slot, xml_byte_source* source, int encoding);

int xml_status(object_id id);
xml_node* xml_root_element(object_id id);
void xml_free(object_id id);
void xml_free_all();

xml_node* xml_node_from_path(xml_node* node, const char* path);
// Replaces the value of an element's attribute, or appends the attribute;
// a null name or value counts as empty. No result, as callers have always
// had it: an edit that cannot be made leaves the node as it was.
void xml_set_attribute(xml_node* node, const char* name, const char* value);
// The same edit, reporting it: true once the element holds the value, false
// when nothing changed (not an element, too many attributes, memory short).
bool xml_set_attribute_checked(xml_node* node, const char* name, const char* value);
// The value of an element's attribute of that name, or null when it has
// none (or the node is no element).
const char* xml_attribute(const xml_node* node, const char* name);

constexpr int XML_SAVE_BOM = 1;
constexpr int XML_SAVE_NO_DECLARATION = 2;
constexpr int ESCAPE_TEXT = 0;
constexpr int ESCAPE_ATTRIBUTE = 1;
constexpr int ESCAPE_NONE = 2;
constexpr std::int32_t xml_save_buffer_size = 4096;

struct xml_writer {
    std::uint8_t* cursor;
    std::int32_t room;
    int (*emit)(const char* text, std::int32_t length, int mode, xml_writer* writer);
    int (*flush)(xml_writer* writer);
    std::uint8_t* buffer_start;
    os_handle file_handle;
    // The document's line_end_style: a carriage return or line feed in
    // element text that is not such a line end goes out as a reference.
    std::int32_t line_end_style = XML_LINE_END_NONE;
};

int xml_save(object_id slot, const char* path, int flags = 0);
int xml_write_document(xml_document* document, xml_writer* writer, int encoding, int flags);
int xml_write_node(xml_node* node, xml_writer* writer);
int xml_emit_latin1(const char* text, std::int32_t length, int mode, xml_writer* writer);
int xml_emit_utf8(const char* text, std::int32_t length, int mode, xml_writer* writer);
// For 8-bit documents of UTF-8 files: the bytes as they are, except that a
// byte outside any well-formed UTF-8 sequence goes out as a character
// reference (in text and attribute values), so the file stays UTF-8.
int xml_emit_utf8_bytes(const char* text, std::int32_t length, int mode, xml_writer* writer);
int xml_emit_utf16(const char* text, std::int32_t length, int mode, xml_writer* writer);
int xml_writer_flush(xml_writer* writer);

} // namespace quillgate
