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
long rewrite_text(xml_node* node, xml_rewrite_piece rewrite, void* context) {
    if (!node->text) return 0;
    long total = 0;
    std::size_t length = std::strlen(node->text);
    std::size_t pos = 0;
    xml_node* child = node->kind == XML_NODE_ELEMENT ? node->first_child : nullptr;
    for (;;) {
        std::size_t left = length - pos;
        std::size_t n = left;
        if (child) n = child->preceding_text_length > 0 ? static_cast<std::size_t>(child->preceding_text_length) : 0;
        if (n > left) n = left;
        text piece;
        long changes = n > 0 ? rewrite(context, node->text + pos, n, &piece) : 0;
        if (changes < 0) return -1;
        if (changes > 0) {
            const std::string_view whole(node->text, length);
            text joined = text::concat(whole.substr(0, pos), piece.view(), whole.substr(pos + n));
            if (joined.empty() && length - n + piece.size() > 0) return -1;
            length = joined.size();
            n = piece.size();
            store(node->text, std::move(joined));
            if (child) child->preceding_text_length = static_cast<std::int32_t>(n);
            total += changes;
        }
        pos += n;
        if (!child) return total;
        child = child->next_sibling;
    }
}

long rewrite_attributes(xml_node* node, xml_rewrite_piece rewrite, void* context) {
    long total = 0;
    for (int i = 0; node->attributes && i < node->attribute_count; ++i) {
        char*& value = node->attributes[2 * i + 1];
        if (!value || !*value) continue;
        text piece;
        long changes = rewrite(context, value, std::strlen(value), &piece);
        if (changes < 0 || (changes > 0 && piece.empty())) return -1;
        if (changes > 0) store(value, std::move(piece));
        total += changes;
    }
    return total;
}

} // namespace

long xml_rewrite_character_data(xml_document* document, xml_rewrite_piece rewrite, void* context) {
    if (!document || !document->document_node) return 0;
    long total = 0;
    // Down through elements only: the children of a DOCTYPE are the comments
    // and instructions of its internal subset.
    xml_node* node = document->document_node->first_child;
    while (node) {
        long changes = 0;
        if (node->kind == XML_NODE_ELEMENT) {
            changes = rewrite_attributes(node, rewrite, context);
            if (changes >= 0) {
                long in_text = rewrite_text(node, rewrite, context);
                changes = in_text < 0 ? -1 : changes + in_text;
            }
        } else if (node->kind == XML_NODE_CDATA) {
            changes = rewrite_text(node, rewrite, context);
        }
        if (changes < 0) return -1;
        total += changes;
        if (node->kind == XML_NODE_ELEMENT && node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node && !node->next_sibling) {
            node = node->parent;
            if (node == document->document_node) node = nullptr;
        }
        if (node) node = node->next_sibling;
    }
    return total;
}

} // namespace quillgate
