// Text conversions between the program's 8-bit text and file encodings.
// UTF-8 goes to and from Latin-1 by code point; UTF-16 goes through the
// system's ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/text.h"

namespace quillgate {

// Output length of utf8_to_latin1 for these bytes (never more than size).
std::size_t utf8_to_latin1_length(const char* bytes, std::size_t size);
// Converts into `into`, which holds at least utf8_to_latin1_length + 1 bytes,
// and terminates it. Returns the length up to the terminator (a zero byte
// ends the text early). A character above U+00FF becomes "?", and so does
// each ill-formed part of the bytes.
std::size_t utf8_to_latin1_into(const char* bytes, std::size_t size, char* into);
text utf8_to_latin1(const char* bytes, std::size_t size);

// `into` holds at least 2 * size + 1 bytes. Returns the bytes written.
std::size_t latin1_to_utf8_into(const char* bytes, std::size_t size, char* into);
text latin1_to_utf8(const char* bytes, std::size_t size);

// ANSI text to UTF-16 little-endian bytes, without the terminating unit.
// Empty when the conversion yields nothing.
text ansi_to_utf16(const char* ansi);
// UTF-16 little-endian units to ANSI text.
text utf16_to_ansi(const std::uint16_t* units, std::size_t count);

// Text written in the ANSI code page the system had before programs could
// ask for UTF-8, in today's; empty where the two are one or it cannot be had.
text legacy_ansi_to_ansi(const char* legacy, std::size_t size);
// ANSI text to UTF-8 (through UTF-16).
text ansi_to_utf8(const char* ansi);

// UTF-8 bytes to UTF-16 little-endian bytes and back, with explicit sizes
// (a zero inside is a character). What does not decode becomes the system's
// substitute; empty when the conversion yields nothing.
text utf8_to_utf16(const char* bytes, std::size_t size);
text utf16_to_utf8(const std::uint16_t* units, std::size_t count);

} // namespace quillgate
