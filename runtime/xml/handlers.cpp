// The parser's handlers, which build the tree from its events. The user
// data is the document being loaded; once a handler has failed the load,
// later callbacks (Expat may deliver a few) change nothing.
#include "runtime/xml/load_state.h"

#include "runtime/files/files.h"
#include "runtime/xml/references.h"

namespace quillgate {
namespace loader {

namespace {

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
    if (document != nullptr && open_node(document) != nullptr && open_node(document)->kind == XML_NODE_CDATA)
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
    if (document == nullptr || open_node(document) == nullptr || open_node(document)->kind != XML_NODE_DTD) return;
    xml_append_raw(document, "]>", 2);
    xml_close_node(document);
}

void on_declaration(void* user_data, const XML_Char* version, const XML_Char* encoding, int standalone) {
    xml_document* document = loading(user_data);
    if (document == nullptr || version == nullptr) return; // a text declaration
    if (encoding != nullptr) {
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

} // namespace

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

} // namespace loader

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

} // namespace quillgate
