// The ANSI code page conversions are the system's own.
#include <windows.h>

#include <cstdlib>

#include "runtime/platform/text_codepage.h"

namespace quillgate {

int os_ansi_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units) {
    static_assert(sizeof(wchar_t) == sizeof(std::uint16_t));
    return MultiByteToWideChar(CP_ACP, 0, source, source_length, reinterpret_cast<wchar_t*>(into), into_units);
}

int os_wide_to_ansi(const std::uint16_t* source, int source_units, char* into, int into_bytes) {
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(source), source_units, into, into_bytes,
                               nullptr, nullptr);
}

int os_legacy_ansi_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units) {
    char number[8] = {};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number) == 0) return 0;
    UINT page = static_cast<UINT>(std::atoi(number));
    if (page == 0 || page == GetACP()) return 0;
    return MultiByteToWideChar(page, 0, source, source_length, reinterpret_cast<wchar_t*>(into), into_units);
}

int os_utf8_to_wide(const char* source, int source_length, std::uint16_t* into, int into_units) {
    return MultiByteToWideChar(CP_UTF8, 0, source, source_length, reinterpret_cast<wchar_t*>(into), into_units);
}

int os_wide_to_utf8(const std::uint16_t* source, int source_units, char* into, int into_bytes) {
    return WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(source), source_units, into, into_bytes,
                               nullptr, nullptr);
}

} // namespace quillgate
