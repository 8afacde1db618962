// The system's ANSI code page <-> UTF-16 (MultiByteToWideChar and
// WideCharToMultiByte with CP_ACP). On POSIX the locale's UTF-8 stands for
// the ANSI code page.
#pragma once

#include <cstdint>

namespace quillgate {

// Both follow the Win32 calls: a source length of -1 includes the terminator;
// a destination size of 0 asks for the length needed. 0 on failure.
int os_ansi_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units);
int os_wide_to_ansi(const std::uint16_t* source, int source_units, char* into, int into_bytes);
// Text in the ANSI code page the system had before programs could ask for
// UTF-8 (Windows: the locale's default, not GetACP) to UTF-16, with the
// same conventions; 0 as well where that page is today's (POSIX, or a
// program that did not ask).
int os_legacy_ansi_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units);
// The same as os_ansi_to_wide and os_wide_to_ansi with UTF-8 (CP_UTF8) in
// place of the ANSI code page. Undecodable UTF-8 becomes U+FFFD and a lone
// surrogate the system's substitute, so a round trip tells them apart.
int os_utf8_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units);
int os_wide_to_utf8(const std::uint16_t* source, int source_units, char* into, int into_bytes);

} // namespace quillgate
