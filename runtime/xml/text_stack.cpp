// The texts of the nodes a load has open, and opening and closing nodes.
#include "runtime/xml/load_state.h"

#include <algorithm>

namespace quillgate {
namespace loader {

char* grow_current_text(xml_document* document, std::size_t extra) {
    xml_load_state* state = document->load_state;
    xml_node* node = state->current_node;
    std::size_t length = node->text != nullptr ? static_cast<std::size_t>(state->current.length) : 0;
    std::size_t capacity = node->text != nullptr ? static_cast<std::size_t>(state->current.capacity) : 0;
    std::size_t need = length + extra + 1;
    if (need > capacity) {
        // The text keeps growing: it doubles, so a long run of small pieces
        // costs linear time.
        std::size_t size = std::max(need, capacity > 0 ? capacity * 2 : std::size_t{64});
        auto* grown = static_cast<char*>(heap_realloc(node->text, size));
        if (grown == nullptr && size != need) {
            size = need;
            grown = static_cast<char*>(heap_realloc(node->text, size));
        }
        if (grown == nullptr) return nullptr;
        node->text = grown;
        capacity = size;
    }
    state->current.length = static_cast<std::int64_t>(length);
    state->current.capacity = static_cast<std::int64_t>(capacity);
    return node->text + length;
}

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
        xml_node* node = state->current_node;
        for (std::int32_t level = state->depth; level > 0; --level, node = node->parent) {
            const xml_load_state::open_text& at = level == state->depth ? state->current : state->outer[level];
            if (node->text != nullptr) node->text = state->text_base() + at.start;
        }
    }
    state->current_node->text = state->text_base() + state->current.start;
    return state->text_base() + end;
}

// A load that ended with texts on the stack (nodes still open, or a text
// that could not be copied) gives the stack to the document's pool, which
// frees it with the document; no allocation is needed for that.
void keep_stacked_texts(xml_document* document, xml_load_state* state) {
    if (state->texts == nullptr) return;
    bool in_tree = state->texts_in_tree;
    xml_node* node = state->current_node;
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

} // namespace loader

using namespace loader;

xml_node* xml_new_node(xml_document* document, int kind) {
    xml_load_state* state = document->load_state;
    block_pool* pool = xml_node_pool();
    auto* node = pool != nullptr ? static_cast<xml_node*>(pool_alloc_zeroed(pool)) : nullptr;
    if (node == nullptr) {
        stop_for_memory(document);
        return nullptr;
    }
    if (!state->push()) {
        pool_free(pool, node);
        stop_for_memory(document);
        return nullptr;
    }
    node->kind = static_cast<std::int16_t>(kind);
    node->document = state->self_id;
    node->preceding_text_length = state->text_counter;
    if (kind == XML_NODE_ELEMENT && document->main_element == nullptr) document->main_element = node;
    node->parent = state->current_node;
    if (state->last_closed_child != nullptr) {
        state->last_closed_child->next_sibling = node;
        node->prev_sibling = state->last_closed_child;
    } else if (state->current_node != nullptr) {
        state->current_node->first_child = node;
    }
    state->current_node = node;
    state->last_closed_child = nullptr;
    state->text_counter = 0;
    return node;
}

void xml_close_node(xml_document* document) {
    xml_load_state* state = document->load_state;
    xml_node* node = state->current_node;
    // The document node is never closed; its text stays a block of its own.
    if (node == nullptr || node == document->document_node) return;
    // Every other node's text leaves the stack for the pool.
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
    state->pop();
    state->last_closed_child = node;
    state->text_counter = 0;
    state->current_node = node->parent;
}

} // namespace quillgate
