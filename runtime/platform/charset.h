// The 8-bit character sets that XML files name in their declarations
// ("windows-1251", "KOI8-R", ...), as the system knows them: what each byte
// from 0x80 up means on its own. Windows maps the name to a code page for
// MultiByteToWideChar; POSIX asks iconv.
#pragma once

#include <cstdint>

namespace quillgate {

// The bytes 0x80..0xFF of a character set.
constexpr int charset_high_bytes = 128;

// Fills table[b - 0x80] with the UTF-16 unit that byte b stands for alone,
// or 0 where it is no character by itself (a lead byte of a multi-byte
// set, or a byte the set leaves undefined). False when the system does not
// know the set; the table is then all 0.
bool os_charset_high_bytes(const char* charset, std::uint16_t table[charset_high_bytes]);

} // namespace quillgate
