// Saving: the tree goes out through one 4096-byte buffer into a new file
// beside the target, which replaces the target only once it is complete.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/platform/replace.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

enum class output { latin1, utf8, utf16 };

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
    switch (b) {
    case '\'': return "&apos;";
    case '"': return "&quot;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return nullptr;
    }
}

// For each escape mode, the bytes that are written as they are in 8-bit
// output (UTF-8 output also re-encodes the bytes from 0x80 up).
struct pass_table {
    bool plain[3][256];
    constexpr pass_table() : plain{} {
        for (int mode = 0; mode < 3; ++mode) {
            for (int b = 0; b < 256; ++b) {
                bool markup = b == '<' || b == '>' || b == '&';
                bool attribute_only = b == '\'' || b == '"' || b == '\n' || b == '\r';
                plain[mode][b] =
                    b != 0 && !(markup && mode != ESCAPE_NONE) && !(attribute_only && mode == ESCAPE_ATTRIBUTE);
            }
        }
    }
};
constexpr pass_table pass_through{};

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
            const bool* plain = pass_through.plain[mode >= 0 && mode <= 2 ? mode : ESCAPE_NONE];
            const auto* bytes = reinterpret_cast<const unsigned char*>(text);
            if (encoding == output::utf8) {
                while (end < count && bytes[end] < 0x80 && plain[bytes[end]]) ++end;
            } else {
                while (end < count && plain[bytes[end]]) ++end;
            }
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
        auto b = static_cast<unsigned char>(text[i]);
        if (b == 0) break;
        char unit[16];
        std::int32_t size = 0;
        if (const char* escape = escape_for(b, mode)) {
            for (const char* e = escape; *e != '\0'; ++e) {
                unit[size++] = *e;
                if (encoding == output::utf16) unit[size++] = '\0';
            }
        } else if (encoding == output::utf16) {
            unit[size++] = static_cast<char>(b);
            unit[size++] = '\0';
        } else if (encoding == output::utf8 && b >= 0x80) {
            unit[size++] = static_cast<char>(0xC0 | (b >> 6));
            unit[size++] = static_cast<char>(0x80 | (b & 0x3F));
        } else {
            unit[size++] = static_cast<char>(b);
        }
        if (put(writer, unit, size) == 0) return 0;
    }
    return 1;
}

int emit_text(xml_writer* writer, const char* text, std::int32_t length, int mode) {
    return writer->emit(text, length, mode, writer);
}

int emit_none(xml_writer* writer, const char* text) { return writer->emit(text, -1, ESCAPE_NONE, writer); }

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

// The parent's text that lies before the next child, at most n bytes of
// what is left; the position moves by the full n.
int emit_run(xml_writer* writer, content_position& at, std::int32_t n) {
    if (n <= 0) return 1;
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        auto size = static_cast<std::int32_t>(n < left ? n : left);
        if (emit_text(writer, at.node->text + at.written, size, ESCAPE_TEXT) == 0) return 0;
    }
    at.written += n;
    return 1;
}

// Writes the rest of an open node's text and its end tag.
int finish_content(xml_writer* writer, content_position& at) {
    if (at.written < at.length) {
        std::int64_t left = at.length - at.written;
        const char* rest = at.node->text + at.written;
        // Runs longer than a signed 32-bit count go out in pieces.
        while (left > 0) {
            std::int32_t size = left > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(left);
            if (emit_text(writer, rest, size, ESCAPE_TEXT) == 0) return 0;
            rest += size;
            left -= size;
        }
    }
    if (at.node->kind != XML_NODE_DOCUMENT) {
        if (emit_none(writer, "</") == 0 || emit_none(writer, at.node->name) == 0 || emit_none(writer, ">") == 0)
            return 0;
    }
    return 1;
}

// Writes a node that has no content of its own to walk (everything but the
// document node and elements that hold something), or the start tag of one
// that has. `opens` tells which.
int write_head(xml_writer* writer, xml_node* node, bool* opens) {
    *opens = false;
    switch (node->kind) {
    case XML_NODE_COMMENT:
        return emit_none(writer, "<!--") && emit_none(writer, node->text) && emit_none(writer, "-->");
    case XML_NODE_CDATA:
        return emit_none(writer, "<![CDATA[") && emit_none(writer, node->text) && emit_none(writer, "]]>");
    case XML_NODE_DTD: return emit_none(writer, node->text);
    case XML_NODE_INSTRUCTION:
        return emit_none(writer, "<?") && emit_none(writer, node->name) && emit_none(writer, " ") &&
               emit_none(writer, node->text) && emit_none(writer, "?>");
    case XML_NODE_DOCUMENT: *opens = true; return 1;
    default: break;
    }
    if (emit_none(writer, "<") == 0 || emit_none(writer, node->name) == 0) return 0;
    if (node->attribute_count > 0 && node->attributes != nullptr) {
        for (int i = 0; i < node->attribute_count; ++i) {
            if (emit_none(writer, " ") == 0 || emit_none(writer, node->attributes[2 * i]) == 0 ||
                emit_none(writer, "=\"") == 0 ||
                emit_text(writer, node->attributes[2 * i + 1], -1, ESCAPE_ATTRIBUTE) == 0 ||
                emit_none(writer, "\"") == 0)
                return 0;
        }
    }
    if (node->first_child == nullptr && (node->text == nullptr || node->text[0] == '\0'))
        return emit_none(writer, "/>");
    *opens = true;
    return emit_none(writer, ">");
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
    xml_node* node = root;
    for (;;) {
        bool opens = false;
        if (write_head(writer, node, &opens) == 0) return 0;
        if (opens) {
            if (!open.push(node)) return 0;
            if (node->first_child != nullptr) {
                node = node->first_child;
                if (emit_run(writer, open.top(), node->preceding_text_length) == 0) return 0;
                continue;
            }
        } else if (node != root && node->next_sibling != nullptr) {
            node = node->next_sibling;
            if (emit_run(writer, open.top(), node->preceding_text_length) == 0) return 0;
            continue;
        } else if (node == root) {
            return 1;
        }
        // The node just written was the last child of the innermost open
        // node (or had no children itself): close open nodes until one has
        // a next sibling to go on with.
        for (;;) {
            content_position& at = open.top();
            if (finish_content(writer, at) == 0) return 0;
            xml_node* closed = at.node;
            open.pop();
            if (closed == root) return 1;
            if (closed->next_sibling != nullptr) {
                node = closed->next_sibling;
                if (emit_run(writer, open.top(), node->preceding_text_length) == 0) return 0;
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
    } else if (encoding == 2) {
        writer->emit = xml_emit_utf8;
        head = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
        if ((flags & XML_SAVE_BOM) != 0 && writer->room >= 3) {
            *writer->cursor++ = 0xEF;
            *writer->cursor++ = 0xBB;
            *writer->cursor++ = 0xBF;
            writer->room -= 3;
        }
    } else {
        writer->emit = xml_emit_latin1;
        // The bytes are the file's own; when the file was UTF-8 they still
        // are, and the declaration has to say so.
        if (document->declare_utf8 != 0) head = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
    }
    if ((flags & XML_SAVE_NO_DECLARATION) == 0) {
        if (emit_none(writer, head) == 0) return 0;
        if (document->standalone == 0 && emit_none(writer, " standalone=\"no\"") == 0) return 0;
        if (document->standalone == 1 && emit_none(writer, " standalone=\"yes\"") == 0) return 0;
        if (emit_none(writer, "?>") == 0) return 0;
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
