// Node paths and attribute edits.
#include <cstdint>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

int wanted_kind(const char* name, std::size_t length) {
    if (length == 8 && std::memcmp(name, "#comment", 8) == 0) return XML_NODE_COMMENT;
    if (length == 6 && std::memcmp(name, "#cdata", 6) == 0) return XML_NODE_CDATA;
    if (length == 4 && std::memcmp(name, "#dtd", 4) == 0) return XML_NODE_DTD;
    if (length == 12 && std::memcmp(name, "#instruction", 12) == 0) return XML_NODE_INSTRUCTION;
    return XML_NODE_ELEMENT;
}

bool matches(const xml_node* node, int kind, const char* name, std::size_t length) {
    if (node->kind != kind) return false;
    if (kind != XML_NODE_ELEMENT) return true;
    return node->name != nullptr && std::strncmp(node->name, name, length) == 0 && node->name[length] == '\0';
}

char* heap_copy(const char* s) {
    std::size_t n = std::strlen(s) + 1;
    auto* copy = static_cast<char*>(heap_alloc(n));
    if (copy != nullptr) std::memcpy(copy, s, n);
    return copy;
}

} // namespace

xml_node* xml_node_from_path(xml_node* node, const char* path) {
    if (path == nullptr || *path == '\0') return node;
    const char* p = path;
    xml_node* current = node;
    if (*p == '/') {
        if (node == nullptr) return nullptr;
        xml_document* document = xml_document_get(node->document);
        if (document == nullptr) return nullptr;
        current = document->document_node;
        ++p;
    }
    for (;;) {
        if (*p == '\0') return current;
        if (current == nullptr) return nullptr;
        const char* name = p;
        while (*p != '\0' && *p != '/' && *p != '[') ++p;
        auto length = static_cast<std::size_t>(p - name);
        // Unsigned arithmetic: an index too long for 32 bits wraps instead of
        // overflowing, and a huge index simply runs out of children.
        std::uint32_t index = 0;
        if (*p == '[') {
            ++p;
            for (; *p != '\0' && *p != ']'; ++p) {
                if (*p >= '0' && *p <= '9') index = index * 10u + static_cast<std::uint32_t>(*p - '0');
            }
            if (*p == ']') ++p;
        }
        if (index == 0) index = 1;
        if (*p == '/') ++p;
        current = current->first_child;
        if (length == 1 && *name == '*') {
            for (std::uint32_t step = 1; step < index && current != nullptr; ++step) current = current->next_sibling;
            if (current == nullptr) return nullptr;
            continue;
        }
        int kind = wanted_kind(name, length);
        std::uint32_t seen = 0;
        for (; current != nullptr; current = current->next_sibling) {
            if (matches(current, kind, name, length) && ++seen == index) break;
        }
        if (current == nullptr) return nullptr;
    }
}

namespace {

// The index of an element's attribute of that name, or -1.
int attribute_index(const xml_node* node, const char* name) {
    if (node->attributes == nullptr) return -1;
    for (int i = 0; i < node->attribute_count; ++i) {
        const char* pair_name = node->attributes[2 * i];
        if (pair_name != nullptr && std::strcmp(pair_name, name) == 0) return i;
    }
    return -1;
}

// Room for one more pair in the node's attribute array; false when it
// cannot be had.
bool make_room_for_pair(xml_node* node) {
    if (node->attribute_spare > 0) {
        --node->attribute_spare;
        return true;
    }
    std::size_t pairs = static_cast<std::size_t>(node->attribute_count) + 4;
    std::size_t bytes = pairs * 2 * sizeof(char*);
    char** grown = nullptr;
    if (node->attributes != nullptr && (node->attributes_pooled != 0 || !xml_separately_owned(node->attributes))) {
        // A pool array cannot be resized; its pairs move to a block of
        // their own and the pool keeps the old place.
        grown = static_cast<char**>(heap_alloc_zeroed(bytes));
        if (grown != nullptr)
            std::memcpy(grown, node->attributes, static_cast<std::size_t>(node->attribute_count) * 2 * sizeof(char*));
    } else {
        grown = static_cast<char**>(heap_realloc_zeroed(node->attributes, bytes));
    }
    if (grown == nullptr) return false;
    node->attributes = grown;
    node->attributes_pooled = 0;
    node->attribute_spare = 3;
    return true;
}

} // namespace

const char* xml_attribute(const xml_node* node, const char* name) {
    if (node == nullptr || node->kind != XML_NODE_ELEMENT || name == nullptr) return nullptr;
    const int i = attribute_index(node, name);
    return i < 0 ? nullptr : node->attributes[2 * i + 1];
}

// Every failure leaves the node as it was: an edit is applied whole or not
// at all, so a document is never saved with a half-made attribute.
bool xml_set_attribute_checked(xml_node* node, const char* name, const char* value) {
    if (node == nullptr || node->kind != XML_NODE_ELEMENT) return false;
    if (name == nullptr) name = "";
    if (value == nullptr) value = "";
    if (const int i = attribute_index(node, name); i >= 0) {
        char* copy = heap_copy(value);
        if (copy == nullptr) return false;
        char*& pair_value = node->attributes[2 * i + 1];
        if (xml_separately_owned(pair_value)) heap_free(pair_value);
        pair_value = copy;
        return true;
    }
    if (node->attribute_count >= INT16_MAX - 4) return false;
    char* name_copy = heap_copy(name);
    char* value_copy = heap_copy(value);
    if (name_copy == nullptr || value_copy == nullptr || !make_room_for_pair(node)) {
        heap_free(name_copy);
        heap_free(value_copy);
        return false;
    }
    node->attributes[2 * node->attribute_count] = name_copy;
    node->attributes[2 * node->attribute_count + 1] = value_copy;
    ++node->attribute_count;
    return true;
}

void xml_set_attribute(xml_node* node, const char* name, const char* value) {
    xml_set_attribute_checked(node, name, value);
}

} // namespace quillgate
