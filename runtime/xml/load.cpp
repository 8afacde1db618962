// Loading: a file's bytes, read in pieces, through an Expat parser whose
// handlers build the tree so that saving it gives back the file's markup,
// whitespace and line ends.
#include "runtime/xml/load_state.h"

#include <algorithm>

#include "runtime/files/files.h"
#include "runtime/xml/references.h"

namespace quillgate {
namespace loader {

void stop_for_memory(xml_document* document) {
    if (document->parser == nullptr || document->status != 0) return;
    document->status = XML_STATUS_OUT_OF_MEMORY;
    XML_StopParser(static_cast<XML_Parser>(document->parser), XML_FALSE);
}

namespace {

// A UTF-16 file shows a mark or one zero byte among its first two.
bool utf16_file(const xml_load_state& state) {
    const unsigned char* b = state.lead;
    bool zero = state.lead_count >= 2 && (b[0] == 0) != (b[1] == 0);
    return zero || (state.lead_count >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)));
}

} // namespace

void choose_held_form(xml_document* document) {
    const xml_load_state* state = document->load_state;
    bool utf16 = document->utf8_mark == 0 && utf16_file(*state);
    xml_choose_held_form(document, document->declared_encoding, utf16, document->utf8_mark != 0);
}

namespace {

void record_error(xml_document* document, XML_Parser parser) {
    document->error_line = static_cast<std::int32_t>(XML_GetCurrentLineNumber(parser));
    document->error_column = static_cast<std::int32_t>(XML_GetCurrentColumnNumber(parser)) + 1;
    document->error_message = document->status == XML_STATUS_READ_ERROR
                                  ? "file could not be read"
                                  : XML_ErrorString(static_cast<XML_Error>(document->status));
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
            document->line_end_style = state->line_ends.scan(static_cast<const unsigned char*>(buffer), got);
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

// A document for the load to build: its node, its fields before any byte
// is read, and the first pool block.
void start_document(xml_document* document, xml_node* node, object_id id, XML_Parser parser, std::int64_t size,
                    int encoding) {
    document->live = 1;
    document->document_node = node;
    node->kind = XML_NODE_DOCUMENT;
    node->document = id;
    document->encoding = encoding == XML_ENCODING_FROM_FILE ? ENCODING_UTF8 : encoding;
    document->standalone = -1;
    document->status = 0;
    document->parser = parser;
    document->line_end_style = XML_LINE_END_NONE;
    document->has_declaration = 0;
    document->declared_encoding = nullptr;
    // The first block is sized to the file, whose strings it will mostly
    // hold: the file's size behind the header words.
    std::size_t first = static_cast<std::size_t>(size) + sizeof(xml_pool_block);
    if (auto* block = static_cast<xml_pool_block*>(heap_alloc(first))) {
        block->next = nullptr;
        block->size = first;
        document->string_pool = block;
        document->pool_cursor = reinterpret_cast<char*>(block + 1);
    }
    document->encoding_fixed = encoding != XML_ENCODING_FROM_FILE ? 1 : 0;
}

struct file_reader {
    os_handle handle;
};

std::uint32_t read_file(void* context, void* into, std::uint32_t size) {
    return os_file_read(static_cast<file_reader*>(context)->handle, into, size);
}

} // namespace
} // namespace loader

using namespace loader;

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
    object_id id = slot == new_object ? reinterpret_cast<object_id>(document) : slot;
    start_document(document, node, id, parser, source->size, encoding);
    xml_load_state state;
    state.pass_utf8_mark = encoding == ENCODING_8BIT;
    state.self_id = id;
    state.current_node = node;
    document->load_state = &state;
    // Until the file's first bytes and its declaration say more.
    choose_held_form(document);
    XML_SetUserData(parser, document);

    read_and_parse(document, parser, source, &state);
    keep_stacked_texts(document, &state);

    // A document kept as 8-bit bytes from a file that any reader takes as
    // UTF-8 (a UTF-8 mark, a UTF-8 declaration or none, and no UTF-16) holds
    // that file's bytes, and must say UTF-8 when saved, or its non-ASCII
    // bytes would be read back as two characters each.
    document->declare_utf8 = document->held_form == XML_HELD_UTF8 ? 1 : 0;
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
