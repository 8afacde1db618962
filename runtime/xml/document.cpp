// The document table, the node pool, and freeing documents.
#include <cstdint>

#include <expat.h>

#include "runtime/core/heap.h"
#include "runtime/xml/xml.h"

namespace quillgate {

namespace {

slot_table* document_table = nullptr;
block_pool* node_pool = nullptr;

void free_if_owned(void* p) {
    if (xml_separately_owned(p)) heap_free(p);
}

void free_node_strings(xml_node* node) {
    free_if_owned(node->name);
    free_if_owned(node->text);
    if (node->attributes != nullptr) {
        for (int i = 0; i < 2 * node->attribute_count; ++i) free_if_owned(node->attributes[i]);
        if (node->attributes_pooled == 0) free_if_owned(node->attributes);
    }
}

// Frees a whole tree without recursion: descend to a leaf, free it, and go
// on with its next sibling or climb back to its parent.
void free_tree(xml_node* root) {
    xml_node* node = root;
    while (node != nullptr) {
        if (node->first_child != nullptr) {
            xml_node* child = node->first_child;
            node->first_child = nullptr; // the parent is freed once its children are gone
            node = child;
            continue;
        }
        xml_node* next = (node == root) ? nullptr : node->next_sibling;
        xml_node* parent = (node == root) ? nullptr : node->parent;
        free_node_strings(node);
        pool_free(node_pool, node);
        node = next != nullptr ? next : parent;
    }
}

} // namespace

void xml_table_init() {
    if (document_table == nullptr)
        document_table = slot_table_create(static_cast<std::int32_t>(sizeof(xml_document)), 8, xml_free);
    if (node_pool == nullptr) node_pool = pool_create(static_cast<std::int32_t>(sizeof(xml_node)), 32, 512, 0);
}

slot_table* xml_table() { return document_table; }

block_pool* xml_node_pool() { return node_pool; }

xml_document* xml_document_get(object_id id) {
    if (document_table == nullptr) return nullptr;
    auto* document = static_cast<xml_document*>(slot_get(document_table, id));
    if (document == nullptr || document->live == 0) return nullptr;
    return document;
}

int xml_status(object_id id) {
    xml_document* document = xml_document_get(id);
    return document != nullptr ? document->status : 0;
}

xml_node* xml_root_element(object_id id) {
    xml_document* document = xml_document_get(id);
    return document != nullptr ? document->main_element : nullptr;
}

void xml_free(object_id id) {
    if (document_table == nullptr) return;
    if (id == all_objects) {
        slot_free_all(document_table);
        return;
    }
    xml_document* document = xml_document_get(id);
    if (document == nullptr) return;
    if (document->parser != nullptr) {
        XML_ParserFree(static_cast<XML_Parser>(document->parser));
        document->parser = nullptr;
    }
    if (document->document_node != nullptr) free_tree(document->document_node);
    document->document_node = nullptr;
    document->main_element = nullptr;
    xml_pool_block* block = document->string_pool;
    while (block != nullptr) {
        xml_pool_block* next = *reinterpret_cast<xml_pool_block**>(block);
        heap_free(block);
        block = next;
    }
    document->string_pool = nullptr;
    slot_release(document_table, id);
}

void xml_free_all() {
    if (document_table != nullptr) slot_free_all(document_table);
    if (node_pool != nullptr) {
        pool_destroy(node_pool);
        node_pool = nullptr;
    }
}

} // namespace quillgate
