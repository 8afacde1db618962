// Saving: the tree goes out through one 4096-byte buffer into a new file
// beside the target, which replaces the target only once it is complete.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/replace.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

// utf8_bytes: 8-bit text whose bytes are a UTF-8 file's own.
enum class output { latin1, utf8, utf8_bytes, utf16 };

// Puts one unit (an escape or one character) into the buffer, flushing
// first when it does not fit, so no unit is split between two writes.
int put(xml_writer* writer, const char* bytes, std::int32_t size) {
    if (writer->room < size) {
        if (writer->flush == nullptr || writer->flush(writer) == 0) return 0;
        if (writer->room < size) return 0;
    }
    std::memcpy(writer->cursor, bytes, static_cast<std::size_t>(size));
    writer->cursor += size;
    writer->room -= size;
    return 1;
}

const char* escape_for(unsigned char b, int mode) {
    if (mode != ESCAPE_TEXT && mode != ESCAPE_ATTRIBUTE) return nullptr;
    switch (b) {
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    default: break;
    }
    if (mode != ESCAPE_ATTRIBUTE) return nullptr;
    // A reader turns these into spaces in an attribute value.
    switch (b) {
    case '\'': return "&apos;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return nullptr;
    }
}

// Element text holds the document's line ends as the file had them. A
// reader turns every CR LF and every other CR into a line feed, so a CR or
// LF that is not such a line end goes out as a reference; a line end goes
// out as it is. `size` receives how many bytes the decision covers.
const char* line_end_escape(const unsigned char* bytes, std::size_t i, std::size_t count, int style,
                            std::int32_t* size) {
    *size = 1;
    bool pair = bytes[i] == '\r' && i + 1 < count && bytes[i + 1] == '\n';
    if (style == 1 && pair) {
        *size = 2;
        return nullptr;
    }
    if (bytes[i] == '\r') return style == 4 ? nullptr : "&#13;";
    return style == 1 || style == 4 ? "&#10;" : nullptr;
}

// The length of the well-formed UTF-8 sequence at bytes[i] (within count),
// or 0 when the byte starts none.
std::size_t utf8_sequence(const unsigned char* bytes, std::size_t i, std::size_t count) {
    unsigned char b = bytes[i];
    std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || count - i < n) return 0;
    // The second byte's range rules out overlong forms, surrogates and
    // values above U+10FFFF.
    unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return 0;
    return n;
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
                plain[mode][b] = b != 0 && !((markup || line_end) && mode != ESCAPE_NONE) &&
                                 !(attribute_only && mode == ESCAPE_ATTRIBUTE);
                ascii[mode][b] = plain[mode][b] && b < 0x80;
            }
        }
    }
};
constexpr pass_table pass_through{};

int clamp_mode(int mode) { return mode >= 0 && mode <= 2 ? mode : ESCAPE_NONE; }

template <output encoding>
int emit(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    if (text == nullptr) return 1;
    // The text ends at its terminator or after `length` bytes, whichever
    // comes first; the scan below finds the terminator on its way.
    std::size_t count = length >= 0 ? static_cast<std::size_t>(length) : SIZE_MAX;
    for (std::size_t i = 0; i < count; ++i) {
        // A run of bytes that go out as they are is copied in pieces as
        // large as the buffer's room; each byte is a unit of its own, so no
        // unit is split however the run is cut.
        if (encoding != output::utf16) {
            std::size_t end = i;
            const bool* plain = encoding == output::latin1 ? pass_through.plain[clamp_mode(mode)]
                                                           : pass_through.ascii[clamp_mode(mode)];
            const auto* bytes = reinterpret_cast<const unsigned char*>(text);
            while (end < count && plain[bytes[end]]) ++end;
            while (i < end) {
                if (writer->room <= 0 && (writer->flush == nullptr || writer->flush(writer) == 0 || writer->room <= 0))
                    return 0;
                std::size_t piece = std::min(end - i, static_cast<std::size_t>(writer->room));
                std::memcpy(writer->cursor, text + i, piece);
                writer->cursor += piece;
                writer->room -= static_cast<std::int32_t>(piece);
                i += piece;
            }
            if (i == count) break;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        auto b = bytes[i];
        if (b == 0) break;
        // One unit: an escape, or `covered` bytes that go out as characters
        // (a CR LF line end, or one UTF-8 sequence, is a single unit).
        const char* escape = escape_for(b, mode);
        std::int32_t covered = 1;
        if (mode == ESCAPE_TEXT && (b == '\r' || b == '\n'))
            escape = line_end_escape(bytes, i, count, writer->line_end_style, &covered);
        char reference[8];
        if (encoding == output::utf8_bytes && b >= 0x80) {
            covered = static_cast<std::int32_t>(utf8_sequence(bytes, i, count));
            if (covered == 0) {
                covered = 1;
                // A reference only where the parser decodes one; elsewhere
                // (names, comments) there is no other way to write the byte.
                if (mode != ESCAPE_NONE) {
                    std::snprintf(reference, sizeof reference, "&#%u;", static_cast<unsigned>(b));
                    escape = reference;
                }
            }
        }
        char unit[16];
        std::int32_t size = 0;
        if (escape != nullptr) {
            for (const char* e = escape; *e != '\0'; ++e) {
                unit[size++] = *e;
                if (encoding == output::utf16) unit[size++] = '\0';
            }
        } else {
            for (std::int32_t k = 0; k < covered; ++k) {
                auto c = static_cast<char>(bytes[i + k]);
                if (encoding == output::utf16) {
                    unit[size++] = c;
                    unit[size++] = '\0';
                } else if (encoding == output::utf8 && bytes[i + k] >= 0x80) {
                    unit[size++] = static_cast<char>(0xC0 | (bytes[i + k] >> 6));
                    unit[size++] = static_cast<char>(0x80 | (bytes[i + k] & 0x3F));
                } else {
                    unit[size++] = c;
                }
            }
            i += static_cast<std::size_t>(covered - 1);
        }
        if (put(writer, unit, size) == 0) return 0;
    }
    return 1;
}

// The size of the line end at bytes[i] when it goes out as it is in element
// text (see line_end_escape), or 0.
std::size_t line_end_as_is(const unsigned char* bytes, std::size_t i, std::size_t count, int style) {
    if (bytes[i] == '\r') {
        if (style == 1) return i + 1 < count && bytes[i + 1] == '\n' ? 2 : 0;
        return style == 4 ? 1 : 0;
    }
    return bytes[i] == '\n' && style != 1 && style != 4 ? 1 : 0;
}

// Writes a walk's strings through the writer. In the 8-bit and UTF-8
// outputs the runs that go out as they are (and, in element text, the line
// ends that do) land straight in the buffer while they fit, and only what
// is left goes through the writer's emitter, which would have written those
// runs the same way: each such byte, or line end, is a unit of its own, and
// nothing is flushed while there is room. So the bytes and the points where
// the buffer is flushed stay the same; tags and short strings, most of a
// document's calls, cost no emitter call.
class emitter {
public:
    explicit emitter(xml_writer* writer) : writer_(writer) {
        bool latin1 = writer->emit == xml_emit_latin1;
        if (latin1 || writer->emit == xml_emit_utf8 || writer->emit == xml_emit_utf8_bytes) {
            for (int mode = 0; mode < 3; ++mode)
                plain_[mode] = latin1 ? pass_through.plain[mode] : pass_through.ascii[mode];
        }
    }

    int text(const char* text, std::int32_t length, int mode) {
        const bool* plain = plain_[clamp_mode(mode)];
        if (plain == nullptr || text == nullptr) return writer_->emit(text, length, mode, writer_);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        std::size_t count = length >= 0 ? static_cast<std::size_t>(length) : SIZE_MAX;
        std::size_t room = this->room();
        std::uint8_t* out = writer_->cursor;
        std::size_t i = 0;
        for (;;) {
            std::size_t end = i + std::min(count - i, room);
            std::size_t n = i;
            while (n < end && plain[bytes[n]]) ++n;
            if (n > i) {
                std::memcpy(out, bytes + i, n - i);
                out += n - i;
                room -= n - i;
                i = n;
            }
            if (i == count || bytes[i] == 0) break;
            std::size_t size = mode == ESCAPE_TEXT ? line_end_as_is(bytes, i, count, writer_->line_end_style) : 0;
            if (size == 0 || size > room) break;
            std::memcpy(out, bytes + i, size);
            out += size;
            room -= size;
            i += size;
        }
        if (out != writer_->cursor) {
            writer_->room -= static_cast<std::int32_t>(out - writer_->cursor);
            writer_->cursor = out;
        }
        if (i == count || bytes[i] == 0) return 1;
        return writer_->emit(text + i, length >= 0 ? length - static_cast<std::int32_t>(i) : -1, mode, writer_);
    }

    int none(const char* text) { return this->text(text, -1, ESCAPE_NONE); }

    // ' name="value"', in one piece when all of it goes out as it is.
    int attribute(const char* name, const char* value) {
        const bool* plain_name = plain_[ESCAPE_NONE];
        const bool* plain_value = plain_[ESCAPE_ATTRIBUTE];
        if (plain_name != nullptr && name != nullptr && value != nullptr) {
            const auto* n = reinterpret_cast<const unsigned char*>(name);
            const auto* v = reinterpret_cast<const unsigned char*>(value);
            std::size_t name_size = 0;
            while (plain_name[n[name_size]]) ++name_size;
            std::size_t value_size = 0;
            while (plain_value[v[value_size]]) ++value_size;
            if (n[name_size] == 0 && v[value_size] == 0 && name_size + value_size + 4 <= room()) {
                std::uint8_t* out = writer_->cursor;
                *out++ = ' ';
                std::memcpy(out, name, name_size);
                out += name_size;
                *out++ = '=';
                *out++ = '"';
                std::memcpy(out, value, value_size);
                out += value_size;
                *out++ = '"';
                writer_->room -= static_cast<std::int32_t>(out - writer_->cursor);
                writer_->cursor = out;
                return 1;
            }
        }
        return none(" ") && none(name) && none("=\"") && text(value, -1, ESCAPE_ATTRIBUTE) && none("\"");
    }

private:
    std::size_t room() const { return writer_->room > 0 ? static_cast<std::size_t>(writer_->room) : 0; }

    xml_writer* writer_;
    const bool* plain_[3] = {nullptr, nullptr, nullptr};
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
int emit_run(emitter& out, content_position& at, std::int32_t n) {
    if (n <= 0) return 1;
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        auto size = static_cast<std::int32_t>(n < left ? n : left);
        if (out.text(at.node->text + at.written, size, content_mode(at.node)) == 0) return 0;
    }
    at.written += n;
    return 1;
}

// Writes the rest of an open node's text and its end tag.
int finish_content(emitter& out, content_position& at) {
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        const char* rest = at.node->text + at.written;
        // Runs longer than a signed 32-bit count go out in pieces.
        while (left > 0) {
            std::int32_t size = left > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(left);
            if (out.text(rest, size, content_mode(at.node)) == 0) return 0;
            rest += size;
            left -= size;
        }
    }
    if (at.node->kind != XML_NODE_DOCUMENT && at.node->kind != XML_NODE_DTD) {
        if (out.none("</") == 0 || out.none(at.node->name) == 0 || out.none(">") == 0) return 0;
    }
    return 1;
}

// Writes a node that has no content of its own to walk (everything but the
// document node, DOCTYPE nodes and elements that hold something), or the
// start tag of one that has. `opens` tells which.
int write_head(emitter& out, xml_node* node, bool* opens) {
    *opens = false;
    switch (node->kind) {
    case XML_NODE_COMMENT: return out.none("<!--") && out.none(node->text) && out.none("-->");
    case XML_NODE_CDATA: return out.none("<![CDATA[") && out.none(node->text) && out.none("]]>");
    // The comments and instructions of an internal subset are children of
    // the DOCTYPE node, placed in its text as an element's children are.
    case XML_NODE_DTD: *opens = true; return 1;
    case XML_NODE_INSTRUCTION:
        return out.none("<?") && out.none(node->name) && out.none(" ") && out.none(node->text) && out.none("?>");
    case XML_NODE_DOCUMENT: *opens = true; return 1;
    default: break;
    }
    if (out.none("<") == 0 || out.none(node->name) == 0) return 0;
    if (node->attribute_count > 0 && node->attributes != nullptr) {
        for (int i = 0; i < node->attribute_count; ++i) {
            if (out.attribute(node->attributes[2 * i], node->attributes[2 * i + 1]) == 0) return 0;
        }
    }
    if (node->first_child == nullptr && (node->text == nullptr || node->text[0] == '\0')) return out.none("/>");
    *opens = true;
    return out.none(">");
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

// The walk goes down first_child and along next_sibling and climbs back by
// parent, with the open nodes' text positions on a stack of its own: depth
// costs heap, never the machine stack.
int xml_write_node(xml_node* root, xml_writer* writer) {
    if (root == nullptr || writer == nullptr || writer->emit == nullptr) return 0;
    position_stack open;
    emitter out(writer);
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

int xml_write_document(xml_document* document, xml_writer* writer, int encoding, int flags) {
    const char* head = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"";
    if (encoding == 25) {
        writer->emit = xml_emit_utf16;
        head = "<?xml version=\"1.0\" encoding=\"UTF-16\"";
        if ((flags & XML_SAVE_BOM) != 0 && writer->room >= 2) {
            *writer->cursor++ = 0xFF;
            *writer->cursor++ = 0xFE;
            writer->room -= 2;
        }
    } else if (encoding == 2 || document->declare_utf8 != 0) {
        // An 8-bit document of a UTF-8 file holds that file's bytes: they go
        // out as they are, under a UTF-8 declaration, and a mark the file
        // had goes back in front.
        bool file_bytes = encoding != 2;
        writer->emit = file_bytes ? xml_emit_utf8_bytes : xml_emit_utf8;
        head = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
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
        emitter out(writer);
        if (out.none(head) == 0) return 0;
        if (document->standalone == 0 && out.none(" standalone=\"no\"") == 0) return 0;
        if (document->standalone == 1 && out.none(" standalone=\"yes\"") == 0) return 0;
        if (out.none("?>") == 0) return 0;
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
