// file_read_line over arbitrary file contents, in every encoding, with and
// without ignore_line_ends, buffered and unbuffered: every line is read
// until the position stops moving. Nothing may crash or leak, the position
// only ever moves forward within the file, and 8-bit and UTF-8 lines equal
// those of a plain restatement of the line rules.
#include <vector>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

constexpr int encodings[] = {ENCODING_8BIT, ENCODING_UTF8, ENCODING_UTF16, 0, 31, 7};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    // A numbered slot keeps its record once made: made now, the leak check
    // sees only what one input costs.
    slot_acquire(file_table(), 2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string path = fuzz::scratch_file("lines.txt");
    int encoding = encodings[(data[0] & 15) % 6];
    bool raw = (data[0] & 16) != 0, unbuffered = (data[0] & 32) != 0, one_byte = encoding != ENCODING_UTF16;
    const std::uint8_t* content = data + 1;
    std::size_t length = size - 1;
    fuzz::write_bytes(path, content, length);

    heap_counts before = heap_live();
    fuzz::require(file_open_with_mode(2, path.c_str(), FILE_MODE_READ,
                                      FILE_OPTION_SHARE_READ | (unbuffered ? FILE_OPTION_UNBUFFERED : 0)) != 0,
                  "file_open_with_mode");
    std::vector<std::string> expected;
    for (std::size_t at = 0; at < length;) {
        std::string line = fuzz::reference_line({reinterpret_cast<const char*>(content), length}, at, raw);
        expected.push_back(encoding == ENCODING_UTF8 ? fuzz::reference_utf8_to_latin1(line) : line);
    }
    std::size_t count = 0;
    std::int64_t position = file_position(2);
    fuzz::require(position == 0, "a new file starts at 0");
    for (;;) {
        text line = file_read_line(2, encoding | (raw ? ignore_line_ends : 0));
        std::int64_t now = file_position(2);
        fuzz::require(now >= position && now <= static_cast<std::int64_t>(length), "the position moves forward");
        if (now == position) {
            fuzz::require(line.empty(), "no text without a byte read");
            break;
        }
        position = now;
        if (one_byte) {
            fuzz::require(count < expected.size(), "no more lines than the rules give");
            fuzz::require(line.view() == expected[count], "the line equals the rules' line");
        }
        ++count; // the position grows within the file, so the loop ends
    }
    if (one_byte) fuzz::require(count == expected.size(), "as many lines as the rules give");
    fuzz::require(position == static_cast<std::int64_t>(length) ||
                      (!one_byte && position + 1 >= static_cast<std::int64_t>(length)),
                  "the whole file is read");
    file_close(2);
    fuzz::require_heap_at(before);
    return 0;
}
