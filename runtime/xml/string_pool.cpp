// The document's string pool: names, values and texts in blocks that the
// document frees all at once.
#include "runtime/xml/load_state.h"

#include "runtime/core/bytes.h"
#include "runtime/files/convert.h"

namespace quillgate {
namespace loader {

char* pool_take_from_new_block(xml_document* document, std::size_t size, bool pointers) {
    xml_pool_block* newest = document->string_pool;
    if (newest == nullptr || document->pool_cursor != nullptr) {
        auto* block = static_cast<xml_pool_block*>(heap_alloc(xml_pool_block_size));
        if (block != nullptr) {
            block->next = document->string_pool;
            block->size = xml_pool_block_size;
            document->string_pool = block;
            document->pool_cursor = reinterpret_cast<char*>(block + 1);
        } else {
            document->pool_cursor = nullptr;
        }
    }
    if (document->pool_cursor == nullptr) return nullptr;
    char* place = pool_fit(document->pool_cursor, pointers);
    document->pool_cursor = place + size;
    return place;
}

// Copies n bytes, n > 0, a word at a time (the last word may overlap the
// one before; a short copy takes two overlapping halves or single bytes)
// and tells whether they were all below 0x80.
bool copy_ascii(char* to, const char* from, std::size_t n) {
    std::uint64_t seen = 0;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::uint64_t word = load_word(from + i);
            std::memcpy(to + i, &word, 8);
            seen |= word;
        }
        std::uint64_t last = load_word(from + n - 8);
        std::memcpy(to + n - 8, &last, 8);
        seen |= last;
    } else {
        seen = copy_below_8(to, from, n);
    }
    return (seen & high_bits) == 0;
}

char* pool_copy(xml_document* document, const char* utf8, std::size_t n, bool* plain) {
    char* copy = pool_take(document, n + 1, false);
    if (copy == nullptr) copy = static_cast<char*>(heap_alloc(n + 1));
    if (copy == nullptr) return nullptr;
    *plain = copy_ascii(copy, utf8, n + 1);
    if (!*plain) {
        utf8_to_latin1_into(utf8, n, copy);
        count_replacements(document, utf8, n);
    }
    return copy;
}

} // namespace loader

using namespace loader;

void* xml_pool_alloc(xml_document* document, std::size_t size) {
    char* place = pool_take(document, size, false);
    return place != nullptr ? place : heap_alloc(size);
}

char* xml_pool_strdup(xml_document* document, const char* utf8) {
    if (utf8 == nullptr) return nullptr;
    bool plain = false;
    return pool_copy(document, utf8, std::strlen(utf8), &plain);
}

} // namespace quillgate
