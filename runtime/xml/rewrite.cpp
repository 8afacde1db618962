#include "runtime/xml/rewrite.h"

#include <cstring>
#include <string_view>

#include "runtime/core/heap.h"

namespace quillgate {

namespace {

// Puts a new heap string where `slot` pointed; the old one is freed only
// when it owned itself (pool strings go with the pool).
void store(char*& slot, text&& replacement) {
    if (xml_separately_owned(slot)) heap_free(slot);
    slot = replacement.release();
}

// The runs of a node's text between its children: the first n bytes before
// the first child, the next before the second, and the rest after the last.
// Adds the changes to `total`; false when a piece failed.
bool rewrite_text(xml_node* node, xml_rewrite_piece rewrite, void* context, long* total) {
    if (!node->text) return true;
    std::size_t length = std::strlen(node->text);
    std::size_t pos = 0;
    xml_node* child = node->kind == XML_NODE_ELEMENT ? node->first_child : nullptr;
    for (;;) {
        std::size_t left = length - pos;
        std::size_t n = left;
        if (child) n = child->preceding_text_length > 0 ? static_cast<std::size_t>(child->preceding_text_length) : 0;
        if (n > left) n = left;
        text piece;
        long changes = 0;
        if (n > 0 && !rewrite(context, std::string_view(node->text + pos, n), &piece, &changes)) return false;
        if (changes > 0) {
            const std::string_view whole(node->text, length);
            text joined = text::concat(whole.substr(0, pos), piece.view(), whole.substr(pos + n));
            if (joined.empty() && length - n + piece.size() > 0) return false;
            length = joined.size();
            n = piece.size();
            store(node->text, std::move(joined));
            if (child) child->preceding_text_length = static_cast<std::int32_t>(n);
            *total += changes;
        }
        pos += n;
        if (!child) return true;
        child = child->next_sibling;
    }
}

// Every attribute value of an element; adds the changes to `total`, false
// when a piece failed.
bool rewrite_attributes(xml_node* node, xml_rewrite_piece rewrite, void* context, long* total) {
    for (int i = 0; node->attributes && i < node->attribute_count; ++i) {
        char*& value = node->attributes[2 * i + 1];
        if (!value || !*value) continue;
        text piece;
        long changes = 0;
        if (!rewrite(context, value, &piece, &changes) || (changes > 0 && piece.empty())) return false;
        if (changes > 0) store(value, std::move(piece));
        *total += changes;
    }
    return true;
}

// The node after `node` in document order, through elements only: the
// children of a DOCTYPE are the comments and instructions of its internal
// subset.
xml_node* next_in_document(xml_document* document, xml_node* node) {
    if (node->kind == XML_NODE_ELEMENT && node->first_child) return node->first_child;
    while (node && !node->next_sibling) {
        node = node->parent;
        if (node == document->document_node) node = nullptr;
    }
    return node ? node->next_sibling : nullptr;
}

} // namespace

bool xml_rewrite_character_data(xml_document* document, xml_rewrite_piece rewrite, void* context, long* changes) {
    long total = 0;
    xml_node* node = document && document->document_node ? document->document_node->first_child : nullptr;
    for (; node; node = next_in_document(document, node)) {
        bool done = true;
        if (node->kind == XML_NODE_ELEMENT) {
            done = rewrite_attributes(node, rewrite, context, &total) && rewrite_text(node, rewrite, context, &total);
        } else if (node->kind == XML_NODE_CDATA) {
            done = rewrite_text(node, rewrite, context, &total);
        }
        if (!done) return false;
    }
    *changes = total;
    return true;
}

} // namespace quillgate
