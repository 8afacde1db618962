// Character sets by code page: the XML name is mapped to the code page
// number MultiByteToWideChar takes.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/platform/charset.h"

namespace quillgate {

namespace {

struct named_page {
    const char* name;
    UINT page;
};

// The names XML files use for sets that carry no number in their name.
constexpr named_page named_pages[] = {
    {"us-ascii", 20127}, {"ascii", 20127},     {"koi8-r", 20866}, {"koi8-u", 21866}, {"shift_jis", 932},
    {"sjis", 932},       {"gb2312", 936},      {"gbk", 936},      {"big5", 950},     {"euc-kr", 949},
    {"euc-jp", 20932},   {"macintosh", 10000}, {"tis-620", 874},  {"latin1", 28591}, {"l1", 28591},
};

bool same_letters(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        if (x != *b) return false;
    }
    return *a == *b;
}

// The number after a prefix in any letter case ("windows-1251" -> 1251),
// or 0.
UINT number_after(const char* name, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    for (std::size_t k = 0; k < n; ++k) {
        char x = (name[k] >= 'A' && name[k] <= 'Z') ? static_cast<char>(name[k] + 32) : name[k];
        if (x != prefix[k]) return 0;
    }
    char* end = nullptr;
    unsigned long number = std::strtoul(name + n, &end, 10);
    return end != name + n && *end == '\0' && number < 100000 ? static_cast<UINT>(number) : 0;
}

UINT code_page_of(const char* name) {
    for (const named_page& known : named_pages)
        if (same_letters(name, known.name)) return known.page;
    if (UINT part = number_after(name, "iso-8859-")) return 28590 + part;
    for (const char* prefix : {"windows-", "cp", "ibm", "x-cp"})
        if (UINT page = number_after(name, prefix)) return page;
    return 0;
}

} // namespace

bool os_charset_high_bytes(const char* charset, std::uint16_t table[charset_high_bytes]) {
    std::memset(table, 0, sizeof(std::uint16_t) * charset_high_bytes);
    UINT page = charset != nullptr ? code_page_of(charset) : 0;
    if (page == 0 || !IsValidCodePage(page)) return false;
    for (int k = 0; k < charset_high_bytes; ++k) {
        char byte = static_cast<char>(0x80 + k);
        wchar_t unit = 0;
        if (MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) == 1)
            table[k] = static_cast<std::uint16_t>(unit);
    }
    return true;
}

} // namespace quillgate
