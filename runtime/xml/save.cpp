// Saving: the tree goes out through one 4096-byte buffer into a new file
// beside the target, which replaces the target only once it is complete.
#include <cstdint>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/core/inline.h"
#include "runtime/files/files.h"
#include "runtime/platform/replace.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/emit.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

using namespace saver;

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
