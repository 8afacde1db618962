#include "runtime/core/text.h"

#include <cstring>
#include <limits>
#include <utility>

#include "runtime/core/heap.h"

namespace quillgate {

text::text(text&& other) noexcept : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

text& text::operator=(text&& other) noexcept {
    if (this != &other) {
        heap_free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

text text::copy(const char* bytes, std::size_t size) noexcept {
    // No room for the NUL: the size would wrap round to an empty block.
    if (size == std::numeric_limits<std::size_t>::max()) return {};
    auto* block = static_cast<char*>(heap_alloc(size + 1));
    if (!block) return {};
    if (size) std::memcpy(block, bytes, size);
    block[size] = 0;
    return adopt(block, size);
}

text text::concat(std::string_view first, std::string_view second, std::string_view third) noexcept {
    std::size_t size = 0;
    for (std::string_view piece : {first, second, third}) {
        if (piece.size() >= std::numeric_limits<std::size_t>::max() - size) return {};
        size += piece.size();
    }
    auto* block = static_cast<char*>(heap_alloc(size + 1));
    if (!block) return {};
    char* end = block;
    for (std::string_view piece : {first, second, third}) {
        if (!piece.empty()) std::memcpy(end, piece.data(), piece.size());
        end += piece.size();
    }
    *end = 0;
    return adopt(block, size);
}

char* text::release() noexcept {
    size_ = 0;
    return std::exchange(data_, nullptr);
}

} // namespace quillgate
