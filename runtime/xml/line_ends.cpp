// The line-end style of a file, told by its first line end.
#include "runtime/xml/load_state.h"

namespace quillgate {

int xml_line_end_scan::scan(const unsigned char* bytes, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
        unit_bytes[unit_filled++] = bytes[i];
        if (unit_width == 0) {
            if (unit_filled < 2) continue;
            // XML text opens with "<", white space or a mark, so a UTF-16
            // file shows one zero byte among its first two, or a mark;
            // 8-bit and UTF-8 text has no zero byte at all.
            unsigned char a = unit_bytes[0];
            unsigned char b = unit_bytes[1];
            bool mark = (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
            unit_width = mark || ((a == 0) != (b == 0)) ? 2 : 1;
            big_endian = a == 0 || a == 0xFE;
            unit_filled = 0;
            if (unit_width == 1) {
                int style = take_unit(a);
                if (style == XML_LINE_END_NONE) style = take_unit(b);
                if (style != XML_LINE_END_NONE) return style;
                continue;
            }
        } else if (unit_filled < unit_width) {
            continue;
        }
        unit_filled = 0;
        unsigned unit = unit_width == 1 ? unit_bytes[0]
                        : big_endian    ? (unit_bytes[0] << 8u) | unit_bytes[1]
                                        : (unit_bytes[1] << 8u) | unit_bytes[0];
        if (int style = take_unit(unit); style != XML_LINE_END_NONE) return style;
    }
    return XML_LINE_END_NONE;
}

int xml_line_end_scan::take_unit(unsigned unit) {
    if (!scan_started) {
        // A byte-order mark is no text: the file's first character, and
        // a line feed there, come after it.
        static constexpr unsigned utf8_mark[3] = {0xEF, 0xBB, 0xBF};
        if (unit == 0xFEFF || (unit_width == 1 && mark_units < 3 && unit == utf8_mark[mark_units])) {
            ++mark_units;
            return XML_LINE_END_NONE;
        }
        scan_started = true;
        if (unit == '\n') return XML_LINE_END_NONE;
    }
    if (scan_pending_cr) return unit == '\n' ? XML_LINE_END_CRLF : XML_LINE_END_CR;
    if (unit == '\r') scan_pending_cr = true;
    return unit == '\n' ? XML_LINE_END_LF : XML_LINE_END_NONE;
}

} // namespace quillgate
