// The emitters of each output encoding, and the flush into the file.
#include "runtime/xml/emit.h"

namespace quillgate {

using namespace saver;

int xml_emit_latin1(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::latin1>(text, length, mode, writer);
}

int xml_emit_utf8(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf8>(text, length, mode, writer);
}

int xml_emit_utf8_bytes(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf8_bytes>(text, length, mode, writer);
}

int xml_emit_utf16(const char* text, std::int32_t length, int mode, xml_writer* writer) {
    return emit<output::utf16>(text, length, mode, writer);
}

int xml_writer_flush(xml_writer* writer) {
    auto pending = static_cast<std::uint32_t>(xml_save_buffer_size - writer->room);
    if (os_file_write(writer->file_handle, writer->buffer_start, pending) != pending) return 0;
    writer->cursor = writer->buffer_start;
    writer->room = xml_save_buffer_size;
    return 1;
}

} // namespace quillgate
