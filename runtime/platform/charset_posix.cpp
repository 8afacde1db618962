// Character sets through iconv, one byte at a time.
#include <iconv.h>

#include <cstring>

#include "runtime/platform/charset.h"

namespace quillgate {

bool os_charset_high_bytes(const char* charset, std::uint16_t table[charset_high_bytes]) {
    std::memset(table, 0, sizeof(std::uint16_t) * charset_high_bytes);
    if (charset == nullptr || *charset == '\0') return false;
    iconv_t codec = iconv_open("UTF-16LE", charset);
    if (codec == reinterpret_cast<iconv_t>(-1)) return false;
    for (int k = 0; k < charset_high_bytes; ++k) {
        char byte = static_cast<char>(0x80 + k);
        unsigned char unit[4] = {};
        char* in = &byte;
        std::size_t in_left = 1;
        char* out = reinterpret_cast<char*>(unit);
        std::size_t out_left = sizeof unit;
        // A lead byte waits for its follower: the conversion stops short.
        std::size_t done = iconv(codec, &in, &in_left, &out, &out_left);
        if (done != static_cast<std::size_t>(-1) && in_left == 0 && out_left == 2)
            table[k] = static_cast<std::uint16_t>(unit[0] | (unit[1] << 8));
        iconv(codec, nullptr, nullptr, nullptr, nullptr); // forget any half-read byte
    }
    iconv_close(codec);
    return true;
}

} // namespace quillgate
