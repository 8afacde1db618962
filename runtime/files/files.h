// Sequential files: numbered file objects with one transfer buffer each,
// line reading and text writing in a chosen encoding, 64-bit positioning
// and truncation.
#pragma once

#include <cstdint>

#include "runtime/core/slots.h"
#include "runtime/core/text.h"
#include "runtime/platform/file_io.h"

namespace quillgate {

// Encoding flags shared by files and XML documents.
constexpr int ENCODING_8BIT = 24;
constexpr int ENCODING_UTF8 = 2;
constexpr int ENCODING_UTF16 = 25;

// Modes of file_open_with_mode: read a file that exists; read and write,
// making the file when missing; read and write, emptied or made anew.
constexpr int FILE_MODE_READ = 1;
constexpr int FILE_MODE_UPDATE = 2;
constexpr int FILE_MODE_CREATE = 3;
// Its options, added together: other handles may read, or write, meanwhile;
// no transfer buffer; and with FILE_MODE_UPDATE, start at the end.
constexpr int FILE_OPTION_SHARE_READ = 1;
constexpr int FILE_OPTION_SHARE_WRITE = 2;
constexpr int FILE_OPTION_UNBUFFERED = 4;
constexpr int FILE_OPTION_AT_END = 8;

// Option of file_read_line: line ends are ordinary characters.
constexpr int ignore_line_ends = 0x10000;

constexpr std::int32_t default_file_buffer_size = 4096;

struct file_object {
    os_handle handle; // the live marker: non-zero while open
    std::uint8_t* buffer;
    std::int32_t buffer_size;
    std::int32_t available;
    std::int32_t loaded;
    std::int32_t reading;
    // 0 for a file opened to read only: a write to it fails at once, rather
    // than being accepted and then dropped by the flush.
    std::int32_t writable;
};

void file_table_init();
slot_table* file_table();

std::intptr_t file_open(object_id slot, const char* path);
std::intptr_t file_open_with_mode(object_id slot, const char* path, int mode, int options);
text file_read_line(object_id slot, int flags);
std::int32_t file_write_text(object_id slot, const char* text, int encoding);
std::uint32_t file_seek(object_id slot, std::int64_t position);
std::int64_t file_position(object_id slot);
int file_truncate(object_id slot);
void file_close(object_id slot);
void file_close_all();

} // namespace quillgate
