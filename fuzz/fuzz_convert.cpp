// The four text conversions on arbitrary bytes: UTF-8 to Latin-1 and back
// exactly as the byte rules say, and ANSI to UTF-16 and back unchanged for
// ASCII text. Nothing may crash or leak.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    heap_counts before = heap_live();
    {
        std::string want = fuzz::reference_utf8_to_latin1({bytes, size});
        text got = utf8_to_latin1(bytes, size);
        fuzz::require(got.view() == want, "utf8_to_latin1 follows the byte rules");
        fuzz::require(std::strlen(got.c_str()) == got.size(), "utf8_to_latin1 is terminated at its size");
        std::size_t counted = utf8_to_latin1_length(bytes, size);
        fuzz::require(counted >= want.size() && counted <= size, "the counted length bounds the result");
        std::vector<char> into(counted + 1, 'x');
        fuzz::require(utf8_to_latin1_into(bytes, size, into.data()) == want.size(), "utf8_to_latin1_into length");
        fuzz::require(std::memcmp(into.data(), want.data(), want.size()) == 0 && into[want.size()] == 0,
                      "utf8_to_latin1_into bytes");

        text utf8 = latin1_to_utf8(bytes, size);
        fuzz::require(utf8.view() == fuzz::reference_latin1_to_utf8({bytes, size}), "latin1_to_utf8 follows the rules");
        // Latin-1 text without zero bytes goes to UTF-8 and back unchanged.
        if (std::memchr(data, 0, size) == nullptr) {
            text back = utf8_to_latin1(utf8.c_str(), utf8.size());
            fuzz::require(back.view() == std::string_view(bytes, size), "Latin-1 round trip");
        }

        // ASCII (without zero) through UTF-16 and back.
        std::string ascii(size, 'A');
        for (std::size_t i = 0; i < size; ++i) ascii[i] = data[i] & 0x7F ? static_cast<char>(data[i] & 0x7F) : 'A';
        text wide = ansi_to_utf16(ascii.c_str());
        fuzz::require(wide.view() == fuzz::widen(ascii), "one unit of the same value per ASCII character");
        if (!ascii.empty()) {
            text narrow = utf16_to_ansi(reinterpret_cast<const std::uint16_t*>(wide.c_str()), ascii.size());
            fuzz::require(narrow.view() == ascii, "ASCII round trip through UTF-16");
        }

        // Arbitrary input to both code-page conversions: they must merely hold.
        std::string terminated(bytes, size);
        text any_wide = ansi_to_utf16(terminated.c_str());
        std::vector<std::uint16_t> units(size / 2);
        if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
        text any_narrow = utf16_to_ansi(units.data(), units.size());
        fuzz::require(std::strlen(any_narrow.c_str()) == any_narrow.size(), "utf16_to_ansi is terminated at its size");
        text any_utf8 = ansi_to_utf8(terminated.c_str());
    }
    fuzz::require_heap_at(before);
    return 0;
}
