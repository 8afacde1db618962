// UTF-8 by the Unicode standard's table of well-formed sequences: no
// overlong forms, no surrogates, nothing above U+10FFFF. Every layer reads
// UTF-8 through this one table, down to the POSIX code-page calls; so it
// lives here, free of any system call, and both platforms build it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillgate {

// The sequence at bytes[0, size): its code point, and in `length` its
// bytes, or a length of 0 when the bytes start no well-formed sequence.
std::uint32_t utf8_decode(const unsigned char* bytes, std::size_t size, std::size_t* length);
// Where bytes[0, size) start no well-formed sequence: the bytes a reader
// replaces by one substitute, the longest start of a sequence the table
// allows (the maximal subpart), at least the first byte.
std::size_t utf8_ill_formed_length(const unsigned char* bytes, std::size_t size);
// Whether the bytes are well-formed UTF-8 throughout.
bool utf8_well_formed(std::string_view bytes);
// Writes the code point's sequence into `out` (4 bytes); its length.
int utf8_encode(std::uint32_t code_point, char* out);

} // namespace quillgate
