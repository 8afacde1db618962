// Sequential files. Each open file owns one transfer buffer that serves both
// directions: read-ahead while reading, pending bytes while writing. The
// direction flips on demand, so reads, writes, seeks and cuts mix freely.
//
// Choices of this file where the contract leaves room:
// - file_open_with_mode with a mode it does not know gives 0 before the
//   slot is touched: a file still open there stays open.
// - A slot number below -1 names no slot; opening into it gives 0.
// - An id that names no file of this table (a closed dynamic file, a
//   document's id) is refused by the slot table, never read.
// - When the line reader cannot grow its working buffer in the middle of a
//   line, it returns the part read so far; the rest of the line stays unread
//   and comes with the next call, so no byte of the file is lost.
// - file_position gives -1 when the system cannot tell the position.
// - Files take no lock: the console-close path that closes every file and a
//   file operation on the main thread are kept apart by their callers.
#include "runtime/files/files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/core/heap.h"
#include "runtime/core/inline.h"
#include "runtime/files/convert.h"
#include "runtime/files/line_scan.h"

namespace quillgate {

namespace {

using line_scan::CR;
using line_scan::ends_line;
using line_scan::find_stop;
using line_scan::LF;

// A line read without a limit on its units.
constexpr long no_limit = -1;

constexpr std::int32_t line_block = 4096;

slot_table* files = nullptr;

file_object* find(object_id slot) {
    if (files == nullptr) return nullptr;
    return static_cast<file_object*>(slot_get(files, slot));
}

// Writes the pending bytes in writing direction. A short or failed write is
// not retried: the pending bytes are gone either way.
std::uint32_t file_flush(file_object* file) {
    if (file->reading != 0) return 0;
    auto pending = static_cast<std::uint32_t>(file->buffer_size - file->available);
    std::uint32_t written = os_file_write(file->handle, file->buffer, pending);
    file->available = file->buffer_size;
    return written;
}

void turn_to_reading(file_object* file) {
    if (file->reading != 0) return;
    file_flush(file);
    file->reading = 1;
    file->available = 0;
}

std::uint32_t buffered_read(file_object* file, std::uint8_t* into, std::uint32_t size) {
    turn_to_reading(file);
    auto left = static_cast<std::uint32_t>(file->available);
    const std::uint8_t* next = file->buffer + (file->loaded - file->available);
    if (left >= size) {
        // The line reader asks for one unit at a time; keep that path short.
        if (size == 1) {
            *into = *next;
        } else {
            std::memcpy(into, next, size);
        }
        file->available -= static_cast<std::int32_t>(size);
        return size;
    }
    if (left != 0) std::memcpy(into, next, left);
    file->available = 0;
    std::uint32_t wanted = size - left;
    if (wanted >= static_cast<std::uint32_t>(file->buffer_size)) {
        return left + os_file_read(file->handle, into + left, wanted);
    }
    std::uint32_t got = os_file_read(file->handle, file->buffer, static_cast<std::uint32_t>(file->buffer_size));
    file->loaded = static_cast<std::int32_t>(got);
    std::uint32_t taken = wanted < got ? wanted : got;
    if (taken != 0) std::memcpy(into + left, file->buffer, taken);
    file->available = static_cast<std::int32_t>(got - taken);
    return left + taken;
}

std::uint32_t read_bytes(file_object* file, std::uint8_t* into, std::uint32_t size) {
    if (file->buffer == nullptr) return os_file_read(file->handle, into, size);
    return buffered_read(file, into, size);
}

// Puts the last unit read back, so that the next read starts with it.
void give_back(file_object* file, std::uint32_t unit) {
    auto size = static_cast<std::int32_t>(unit);
    if (file->buffer == nullptr) {
        os_file_move(file->handle, -static_cast<std::int64_t>(unit), OS_SEEK_CURRENT);
        return;
    }
    if (file->loaded - file->available >= size) {
        file->available += size;
        return;
    }
    // The unit straddled a refill (a UTF-16 file read from an odd offset):
    // its first byte has left the buffer, so step the system back over the
    // read-ahead and the unit instead.
    os_file_move(file->handle, -static_cast<std::int64_t>(file->available + size), OS_SEEK_CURRENT);
    file->available = 0;
}

std::uint32_t buffered_write(file_object* file, const std::uint8_t* from, std::uint32_t size) {
    if (file->reading != 0) {
        // The system stands after the read-ahead; the bytes belong at the
        // logical position. If it cannot be moved there, nothing is written
        // rather than writing in the wrong place.
        if (os_file_move(file->handle, -static_cast<std::int64_t>(file->available), OS_SEEK_CURRENT) < 0) return 0;
        file->reading = 0;
        file->available = file->buffer_size;
    }
    if (static_cast<std::uint32_t>(file->available) > size) {
        std::memcpy(file->buffer + (file->buffer_size - file->available), from, size);
        file->available -= static_cast<std::int32_t>(size);
        return size;
    }
    file_flush(file);
    if (size >= static_cast<std::uint32_t>(file->buffer_size)) return os_file_write(file->handle, from, size);
    std::memcpy(file->buffer, from, size);
    file->available -= static_cast<std::int32_t>(size);
    return size;
}

std::uint32_t write_bytes(file_object* file, const std::uint8_t* from, std::uint32_t size) {
    if (file->buffer == nullptr) return os_file_write(file->handle, from, size);
    return buffered_write(file, from, size);
}

// A heap block freed on scope exit unless released.
struct scratch {
    void* block;
    scratch() : block(nullptr) {}
    explicit scratch(std::size_t size) : block(heap_alloc(size)) {}
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    ~scratch() { heap_free(block); }
    std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(block); }
};

// The stored bytes of a line as its result text.
text line_result(scratch& line, std::size_t stored, int encoding) {
    if (encoding == ENCODING_UTF16) {
        return utf16_to_ansi(static_cast<const std::uint16_t*>(line.block), stored / 2);
    }
    if (encoding == ENCODING_UTF8) return utf8_to_latin1(reinterpret_cast<const char*>(line.bytes()), stored);
    // 8-bit text is the stored bytes themselves: hand the block over.
    line.bytes()[stored] = 0;
    void* fitted = heap_realloc(line.block, stored + 1);
    if (fitted != nullptr) line.block = fitted;
    auto* block = static_cast<char*>(line.block);
    line.block = nullptr;
    return text::adopt(block, stored);
}

// Whether the buffer's unread bytes hold the whole line with its line end:
// a CR needs its follower there too, to know whether it pairs with an LF.
bool line_in_buffer(const std::uint8_t* next, std::size_t k, std::size_t n) {
    return k < n && (next[k] != CR || k + 1 < n);
}

// The line of the first k unread bytes, made at its final size straight from
// the buffer, and its line end consumed. Nothing is consumed when the text
// cannot be had.
QUILLGATE_HOT_INLINE text line_from_buffer(file_object* file, std::size_t k, int encoding, bool raw) {
    const std::uint8_t* next = file->buffer + (file->loaded - file->available);
    std::size_t used = k + 1;
    if (next[k] == CR && !raw && next[k + 1] == LF) ++used;
    const auto* bytes = reinterpret_cast<const char*>(next);
    bool utf8 = encoding == ENCODING_UTF8;
    std::size_t size = utf8 ? utf8_to_latin1_length(bytes, k) : k;
    auto* block = static_cast<char*>(heap_alloc(size + 1));
    if (block == nullptr) return {};
    if (utf8) {
        size = utf8_to_latin1_into(bytes, k, block);
    } else {
        std::memcpy(block, next, k);
        block[k] = 0;
    }
    file->available -= static_cast<std::int32_t>(used);
    return text::adopt(block, size);
}

void refill(file_object* file) {
    std::uint32_t got = os_file_read(file->handle, file->buffer, static_cast<std::uint32_t>(file->buffer_size));
    file->loaded = static_cast<std::int32_t>(got);
    file->available = static_cast<std::int32_t>(got);
}

// A line that runs past the end of the buffer: collected in the working
// buffer stretch by stretch, with the same bytes consumed, the same refills
// and the same growth of the working buffer as reading one unit at a time.
// Kept apart so that the usual case stays short.
[[gnu::noinline]] text read_long_line(file_object* file, int encoding, bool raw) {
    scratch line;
    std::size_t capacity = 0;
    std::size_t stored = 0;
    for (;;) {
        if (file->available == 0) {
            refill(file);
            if (file->available == 0) break;
        }
        const std::uint8_t* next = file->buffer + (file->loaded - file->available);
        auto n = static_cast<std::size_t>(file->available);
        std::size_t k = find_stop(next, n, raw);
        if (line.block == nullptr && line_in_buffer(next, k, n)) return line_from_buffer(file, k, encoding, raw);
        if (line.block == nullptr) {
            // Two spare bytes keep room for a terminator even when growing fails.
            line.block = heap_alloc(line_block + 2);
            if (line.block == nullptr) return {};
            capacity = line_block;
        }
        // Store the bytes before the stop, growing the working buffer each
        // time the stored bytes fill it; if it cannot grow, the line ends
        // there and the rest stays unread.
        std::size_t done = 0;
        bool full = false;
        while (done < k) {
            std::size_t part = std::min(k - done, capacity - stored);
            std::memcpy(line.bytes() + stored, next + done, part);
            stored += part;
            done += part;
            if (stored == capacity) {
                void* larger = heap_realloc(line.block, capacity + line_block + 2);
                if (larger == nullptr) {
                    full = true;
                    break;
                }
                line.block = larger;
                capacity += line_block;
            }
        }
        file->available -= static_cast<std::int32_t>(done);
        if (full) break;
        if (k == n) continue;
        std::uint8_t stop = next[k];
        file->available -= 1;
        if (stop == CR && !raw) {
            // The look-ahead: an LF is consumed with the CR, anything else
            // stays for the next read; at the end of the file there is none.
            if (file->available == 0) refill(file);
            if (file->available > 0 && file->buffer[file->loaded - file->available] == LF) file->available -= 1;
        }
        break;
    }
    if (line.block == nullptr) return {}; // nothing before the end of the file
    return line_result(line, stored, encoding);
}

// The line reader for one-byte units on a buffered file, without a limit.
// It gives what reading one unit at a time gives, but scans and copies whole
// stretches of the buffer.
text read_buffered_line(file_object* file, int encoding, bool raw) {
    turn_to_reading(file);
    if (file->available > 0) {
        const std::uint8_t* next = file->buffer + (file->loaded - file->available);
        auto n = static_cast<std::size_t>(file->available);
        std::size_t k = find_stop(next, n, raw);
        if (line_in_buffer(next, k, n)) return line_from_buffer(file, k, encoding, raw);
    }
    return read_long_line(file, encoding, raw);
}

// Reads up to the next line end; `limit` counts units, or is no_limit.
text read_line(file_object* file, int flags, long limit) {
    int encoding = flags & 31;
    bool raw = (flags & ignore_line_ends) != 0;
    std::uint32_t unit = encoding == ENCODING_UTF16 ? 2 : 1;
    if (unit == 1 && limit == no_limit && file->buffer != nullptr) return read_buffered_line(file, encoding, raw);

    // Two spare bytes keep room for a terminator even when growing fails.
    scratch line(line_block + 2);
    if (line.block == nullptr) return {};
    std::size_t capacity = line_block;
    std::size_t stored = 0;
    for (;;) {
        if (limit != no_limit) {
            if (limit == 0) break;
            --limit;
        }
        std::uint8_t got[2] = {0, 0};
        if (read_bytes(file, got, unit) != unit) break;
        std::uint32_t value = got[0] | (static_cast<std::uint32_t>(got[1]) << 8);
        if (value == 0) break;
        if (!raw) {
            if (value == LF) break;
            if (value == CR) {
                std::uint8_t ahead[2] = {0, 0};
                if (read_bytes(file, ahead, unit) == unit) {
                    std::uint32_t next = ahead[0] | (static_cast<std::uint32_t>(ahead[1]) << 8);
                    if (next != LF) give_back(file, unit);
                }
                break;
            }
        }
        line.bytes()[stored] = got[0];
        if (unit == 2) line.bytes()[stored + 1] = got[1];
        stored += unit;
        if (stored == capacity) {
            void* larger = heap_realloc(line.block, capacity + line_block + 2);
            if (larger == nullptr) break;
            line.block = larger;
            capacity += line_block;
        }
    }

    return line_result(line, stored, encoding);
}

// How one open asks the system for its file, and what it does after.
struct open_request {
    std::uint32_t access;
    std::uint32_t share;
    std::uint32_t disposition;
    bool truncate_fallback; // when the open fails, try emptying an existing file for writing
    bool buffered;          // give the file its transfer buffer
    bool at_end;            // start at the end of the file
};

std::intptr_t open_file(object_id slot, const char* path, const open_request& request) {
    if (slot < new_object) return 0;
    if (files == nullptr) file_table_init();
    if (files == nullptr) return 0;
    auto* file = static_cast<file_object*>(slot_acquire(files, slot));
    if (file == nullptr) return 0;
    object_id id = slot == new_object ? reinterpret_cast<object_id>(file) : slot;

    os_handle handle = os_file_open(path, request.access, request.share, request.disposition, OS_ATTRIBUTE_NORMAL);
    if (handle == 0 && request.truncate_fallback) {
        handle = os_file_open(path, OS_GENERIC_WRITE, request.share, OS_TRUNCATE_EXISTING, 0);
    }
    if (handle == 0) {
        if (slot == new_object) slot_release(files, id);
        return 0;
    }
    file->handle = handle;
    file->buffer = nullptr;
    if (default_file_buffer_size != 0 && request.buffered) {
        file->buffer = static_cast<std::uint8_t*>(heap_alloc(static_cast<std::size_t>(default_file_buffer_size)));
    }
    file->buffer_size = default_file_buffer_size;
    file->available = 0;
    file->loaded = 0;
    file->reading = 1;
    file->writable = (request.access & OS_GENERIC_WRITE) != 0 ? 1 : 0;
    if (request.at_end) os_file_move(handle, 0, OS_SEEK_END);
    return slot == new_object ? id : handle;
}

} // namespace

void file_table_init() {
    if (files != nullptr) return;
    files = slot_table_create(static_cast<std::int32_t>(sizeof(file_object)), 16, file_close);
}

slot_table* file_table() { return files; }

std::intptr_t file_open(object_id slot, const char* path) {
    return open_file(slot, path, {OS_GENERIC_READ | OS_GENERIC_WRITE, OS_SHARE_READ, OS_OPEN_ALWAYS, false, true, false});
}

std::intptr_t file_open_with_mode(object_id slot, const char* path, int mode, int options) {
    bool share_read = (options & FILE_OPTION_SHARE_READ) != 0;
    bool share_write = (options & FILE_OPTION_SHARE_WRITE) != 0;
    open_request request{OS_GENERIC_READ | OS_GENERIC_WRITE, 0, OS_OPEN_ALWAYS, false,
                         (options & FILE_OPTION_UNBUFFERED) == 0, false};
    switch (mode) {
    case FILE_MODE_READ:
        request.access = OS_GENERIC_READ;
        request.share = share_read ? OS_SHARE_READ : 0;
        request.disposition = OS_OPEN_EXISTING;
        break;
    case FILE_MODE_UPDATE:
        request.share = share_write ? OS_SHARE_READ | OS_SHARE_WRITE : share_read ? OS_SHARE_READ : 0;
        request.at_end = (options & FILE_OPTION_AT_END) != 0;
        break;
    case FILE_MODE_CREATE:
        request.share = (share_read ? OS_SHARE_READ : 0) | (share_write ? OS_SHARE_WRITE : 0);
        request.disposition = OS_CREATE_ALWAYS;
        request.truncate_fallback = true;
        break;
    default: return 0;
    }
    return open_file(slot, path, request);
}

text file_read_line(object_id slot, int flags) {
    file_object* file = find(slot);
    if (file == nullptr) return {};
    return read_line(file, flags, no_limit);
}

std::int32_t file_write_text(object_id slot, const char* text_bytes, int encoding) {
    if (text_bytes == nullptr || *text_bytes == '\0') return 0;
    file_object* file = find(slot);
    if (file == nullptr || file->writable == 0) return 0;
    std::size_t length = std::strlen(text_bytes);
    if (length > static_cast<std::size_t>(INT32_MAX)) return 0;

    if (encoding == ENCODING_UTF16) {
        text wide = ansi_to_utf16(text_bytes);
        if (wide.empty() || wide.size() > static_cast<std::size_t>(INT32_MAX)) return 0;
        return static_cast<std::int32_t>(write_bytes(file, reinterpret_cast<const std::uint8_t*>(wide.c_str()),
                                                     static_cast<std::uint32_t>(wide.size())));
    }
    if (encoding == ENCODING_UTF8) {
        // Four bytes a character: on 32 bits a text of 1 GiB or more would
        // wrap the size round to a small block.
        if (length > SIZE_MAX / 4) return 0;
        scratch encoded(4 * length);
        if (encoded.block == nullptr) return 0;
        std::size_t size = latin1_to_utf8_into(text_bytes, length, reinterpret_cast<char*>(encoded.bytes()));
        if (size > static_cast<std::size_t>(INT32_MAX)) return 0;
        return static_cast<std::int32_t>(write_bytes(file, encoded.bytes(), static_cast<std::uint32_t>(size)));
    }
    return static_cast<std::int32_t>(
        write_bytes(file, reinterpret_cast<const std::uint8_t*>(text_bytes), static_cast<std::uint32_t>(length)));
}

std::uint32_t file_seek(object_id slot, std::int64_t position) {
    file_object* file = find(slot);
    if (file == nullptr) return 0;
    if (file->buffer != nullptr) {
        turn_to_reading(file);
        file->available = 0;
    }
    auto bits = static_cast<std::uint64_t>(position);
    auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    auto high = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
    return os_file_seek(file->handle, low, &high, OS_SEEK_BEGIN);
}

std::int64_t file_position(object_id slot) {
    file_object* file = find(slot);
    if (file == nullptr) return -1;
    std::int64_t system = os_file_move(file->handle, 0, OS_SEEK_CURRENT);
    if (system < 0) return -1;
    if (file->buffer == nullptr) return system;
    if (file->reading != 0) return system - file->available;
    return system + (file->buffer_size - file->available);
}

int file_truncate(object_id slot) {
    file_object* file = find(slot);
    if (file == nullptr) return 0;
    std::int64_t position = file_position(slot);
    // Without a known position the cut could land after the read-ahead.
    if (position < 0) return 0;
    if (file->buffer != nullptr) {
        turn_to_reading(file);
        file->available = 0;
    }
    if (os_file_move(file->handle, position, OS_SEEK_BEGIN) != position) return 0;
    return os_file_set_end(file->handle) ? 1 : 0;
}

void file_close(object_id slot) {
    if (slot == all_objects) {
        file_close_all();
        return;
    }
    file_object* file = find(slot);
    if (file == nullptr) return;
    if (file->buffer != nullptr) {
        file_flush(file);
        heap_free(file->buffer);
        file->buffer = nullptr;
    }
    os_file_close(file->handle);
    file->handle = 0;
    slot_release(files, slot);
}

void file_close_all() {
    if (files != nullptr) slot_free_all(files);
}

} // namespace quillgate
