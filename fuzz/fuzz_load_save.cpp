// Arbitrary bytes loaded under one of the four load flags, saved, and
// loaded again: nothing may crash or leak, and a document that loaded
// cleanly must come back from its own saved file as the same tree.
#include <cstring>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

namespace {

constexpr int flags[] = {ENCODING_8BIT, ENCODING_UTF8, ENCODING_UTF16, XML_ENCODING_FROM_FILE};

// A text line feed that is no line end of a CR LF or CR document (taken in
// before the style was known) is written as "&#10;", and the loader gives
// every line feed the parser reports the file's style.
bool has_stray_line_feed(const xml_node* root, int style) {
    if (style != XML_LINE_END_CRLF && style != XML_LINE_END_CR) return false;
    for (const xml_node* node = root; node != nullptr; node = fuzz::next_in_walk(node, root)) {
        if (node->kind != XML_NODE_ELEMENT) continue;
        for (const char* t = node->text; t != nullptr && *t != '\0'; ++t)
            if (*t == '\n' && (style == XML_LINE_END_CR || t == node->text || t[-1] != '\r')) return true;
    }
    return false;
}

// A file without a declaration is saved with one, followed by the file's
// own line end, which the reloaded tree holds first in its document node's
// text: it is taken out before the trees are compared.
void drop_added_line_end(const xml_document* original, xml_document* reloaded) {
    const int style = original->line_end_style;
    if (original->has_declaration != 0 || style == XML_LINE_END_NONE) return;
    const std::string end = style == XML_LINE_END_CRLF ? "\r\n" : style == XML_LINE_END_LF ? "\n" : "\r";
    xml_node* node = reloaded->document_node;
    fuzz::require(node->text != nullptr && std::string(node->text).starts_with(end), "the new declaration's line end");
    std::memmove(node->text, node->text + end.size(), std::strlen(node->text) - end.size() + 1);
    if (node->first_child != nullptr) node->first_child->preceding_text_length -= static_cast<std::int32_t>(end.size());
    if (node->text[0] == '\0' && xml_separately_owned(node->text)) {
        heap_free(node->text);
        node->text = nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    // The numbered slots keep their records once made; make them now so
    // that the leak check below sees only what one input costs.
    for (object_id slot : {0, 1}) slot_acquire(xml_table(), slot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string first = fuzz::scratch_file("first.xml");
    static const std::string saved = fuzz::scratch_file("saved.xml");
    int flag = flags[data[0] % 4];
    fuzz::write_bytes(first, data + 1, size - 1);

    heap_counts before = heap_live();
    if (xml_load(0, first.c_str(), flag) != 0 && xml_status(0) == 0) {
        fuzz::require(xml_save(0, saved.c_str()) == 1, "xml_save of a loaded document");
        xml_document* original = xml_document_get(0);
        fuzz::require(xml_load(1, saved.c_str(), flag) != 0, "xml_load of the saved file");
        // What 8-bit text cannot hold became "?" or a space, which may end
        // a name or an instruction early: such a tree need not come back.
        if (original->replacements == 0) {
            fuzz::require(xml_status(1) == 0, "the saved file parses");
            xml_document* reloaded = xml_document_get(1);
            drop_added_line_end(original, reloaded);
            // Text line ends may come back in another form where the styles
            // differ (a file that opens with a line feed before its main
            // element keeps it in front of the new declaration, where it
            // becomes the first line end): each tree's own line ends then
            // count as one LF, and its other CRs and LFs as themselves.
            bool loose = original->line_end_style != reloaded->line_end_style ||
                         has_stray_line_feed(original->document_node, original->line_end_style);
            fuzz::require(fuzz::dump(original->document_node, loose ? original->line_end_style : -1) ==
                              fuzz::dump(reloaded->document_node, loose ? reloaded->line_end_style : -1),
                          "reloaded tree equals saved");
            fuzz::require((original->main_element == nullptr) == (reloaded->main_element == nullptr), "main element");
            fuzz::require(original->standalone == reloaded->standalone, "standalone");
            // Saved under a UTF-8 declaration, a file that was UTF-8 to a
            // strict reader stays so.
            if (original->declare_utf8 != 0 && xml_load(1, first.c_str(), ENCODING_UTF8) != 0 && xml_status(1) == 0) {
                xml_load(1, saved.c_str(), ENCODING_UTF8);
                fuzz::require(xml_status(1) == 0, "the saved file is still UTF-8");
            }
        }
    }
    xml_free(all_objects);
    fuzz::require_heap_at(before);
    return 0;
}
