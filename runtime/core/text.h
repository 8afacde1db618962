// An owned 8-bit, NUL-terminated text held in a runtime heap block.
//
// Operations that produce text return one of these. An allocation failure
// gives the empty text, never an exception.
#pragma once

#include <cstddef>
#include <string_view>

#include "runtime/core/heap.h"

namespace quillgate {

class text {
public:
    text() noexcept = default;
    text(const text&) = delete;
    text& operator=(const text&) = delete;
    text(text&& other) noexcept;
    text& operator=(text&& other) noexcept;
    // Inline, like adopt: a line read or a value fetched is made and dropped
    // once per call, and the call layers showed in the line reader's profile.
    ~text() { heap_free(data_); }

    // Takes ownership of a heap block holding `size` bytes plus a NUL.
    static text adopt(char* block, std::size_t size) noexcept {
        text result;
        result.data_ = block;
        result.size_ = block ? size : 0;
        return result;
    }
    // Copies `size` bytes; the empty text when the copy cannot be had.
    static text copy(const char* bytes, std::size_t size) noexcept;
    static text copy(std::string_view bytes) noexcept { return copy(bytes.data(), bytes.size()); }
    // The pieces one after the other; empty when it cannot be had.
    static text concat(std::string_view first, std::string_view second, std::string_view third = {}) noexcept;

    const char* c_str() const noexcept { return data_ ? data_ : ""; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::string_view view() const noexcept { return {c_str(), size_}; }
    // Gives up ownership; the caller frees the block with heap_free.
    char* release() noexcept;

    friend bool operator==(const text& a, std::string_view b) noexcept { return a.view() == b; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace quillgate
