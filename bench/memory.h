// The runtime heap held by a loaded configuration, shared by the benchmark
// program and the memory program that the 32-bit build runs on its own (it
// has neither the benchmark library nor the peers).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/runtime.h"

namespace quillgate::bench {

struct memory_use {
    std::size_t file = 0;
    std::size_t peak = 0;
    std::size_t loaded = 0;
    std::size_t pool = 0;      // string-pool blocks
    std::size_t pool_used = 0; // bytes handed out of them
};

// The heap's live bytes, sampled after every piece the loader asks for:
// the high-water mark of a load to within one chunk.
struct sampling_reader {
    std::FILE* file;
    std::size_t base;
    std::size_t peak;
};

inline std::uint32_t read_sampling(void* context, void* into, std::uint32_t size) {
    auto* reader = static_cast<sampling_reader*>(context);
    reader->peak = std::max(reader->peak, heap_live().bytes - reader->base);
    return static_cast<std::uint32_t>(std::fread(into, 1, size, reader->file));
}

inline memory_use measure_memory(const std::string& path, std::size_t file_size) {
    memory_use use;
    use.file = file_size;
    sampling_reader reader{std::fopen(path.c_str(), "rb"), heap_live().bytes, 0};
    if (reader.file == nullptr) return use;
    xml_byte_source source{read_sampling, &reader, static_cast<std::int64_t>(use.file), xml_load_chunk_size};
    if (xml_load_from(6, &source, ENCODING_8BIT) != 0 && xml_status(6) == 0) {
        use.loaded = heap_live().bytes - reader.base;
        use.peak = std::max(reader.peak, use.loaded);
        xml_document* document = xml_document_get(6);
        for (xml_pool_block* block = document->string_pool; block != nullptr; block = block->next) {
            use.pool += block->size;
            // Only the newest block has a cursor; older ones count as full.
            char* end = reinterpret_cast<char*>(block) + block->size;
            bool newest = block == document->string_pool && document->pool_cursor != nullptr;
            use.pool_used +=
                static_cast<std::size_t>((newest ? document->pool_cursor : end) - reinterpret_cast<char*>(block + 1));
        }
    }
    xml_free(6);
    std::fclose(reader.file);
    return use;
}

} // namespace quillgate::bench
