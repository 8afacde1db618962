#include "runtime/platform/os_heap.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace quillgate {

namespace {

// Each block is preceded by this header; the headers form a list so that
// destroying the heap can release every block still allocated. Its size keeps
// the block behind it on malloc's 16-byte alignment.
struct alignas(16) block_header {
    block_header* prev;
    block_header* next;
    std::size_t size;
};

// The list is a ring through this header of no block, so that linking and
// unlinking, done once per allocation and per release, need no tests.
block_header blocks{&blocks, &blocks, 0};

void link(block_header* header) {
    header->prev = &blocks;
    header->next = blocks.next;
    blocks.next->prev = header;
    blocks.next = header;
}

void unlink(block_header* header) {
    header->prev->next = header->next;
    header->next->prev = header->prev;
}

// A size so large that the header would wrap the request round to a small block.
bool too_large(std::size_t size) { return size > std::numeric_limits<std::size_t>::max() - sizeof(block_header); }

block_header* header_of(const void* block) {
    return reinterpret_cast<block_header*>(const_cast<char*>(static_cast<const char*>(block))) - 1;
}

} // namespace

bool os_heap_create() { return true; }

void os_heap_destroy() {
    while (blocks.next != &blocks) {
        block_header* header = blocks.next;
        unlink(header);
        std::free(header);
    }
}

void* os_heap_alloc(std::size_t size, bool zeroed) {
    if (too_large(size)) return nullptr;
    auto* header = static_cast<block_header*>(zeroed ? std::calloc(1, sizeof(block_header) + size)
                                                     : std::malloc(sizeof(block_header) + size));
    if (!header) return nullptr;
    header->size = size;
    link(header);
    return header + 1;
}

void* os_heap_realloc(void* block, std::size_t size, bool zero_growth) {
    if (!block) return os_heap_alloc(size, zero_growth);
    if (too_large(size)) return nullptr;
    block_header* old = header_of(block);
    std::size_t old_size = old->size;
    unlink(old);
    auto* header = static_cast<block_header*>(std::realloc(old, sizeof(block_header) + size));
    if (!header) {
        link(old);
        return nullptr;
    }
    header->size = size;
    link(header);
    if (zero_growth && size > old_size) std::memset(reinterpret_cast<char*>(header + 1) + old_size, 0, size - old_size);
    return header + 1;
}

void os_heap_free(void* block) {
    if (!block) return;
    block_header* header = header_of(block);
    unlink(header);
    std::free(header);
}

std::size_t os_heap_size(const void* block) { return block ? header_of(block)->size : 0; }

} // namespace quillgate
