// Arbitrary bytes loaded under one of the four load flags, saved, and
// loaded again: nothing may crash or leak, and a document that loaded
// cleanly must come back from its own saved file as the same tree.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

namespace {

constexpr int flags[] = {ENCODING_8BIT, ENCODING_UTF8, ENCODING_UTF16, -1};

bool same_string(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

// The next node of a depth-first walk, or null after the last.
const xml_node* next_in_walk(const xml_node* node, const xml_node* root) {
    if (node->first_child != nullptr) return node->first_child;
    while (node != root) {
        if (node->next_sibling != nullptr) return node->next_sibling;
        node = node->parent;
    }
    return nullptr;
}

// Line ends as one LF each, for trees whose files chose different line-end
// styles (see same_tree).
std::string plain_line_ends(const char* s) {
    std::string out;
    for (; s != nullptr && *s != '\0'; ++s) {
        if (*s == '\r') {
            out += '\n';
            if (s[1] == '\n') ++s;
        } else {
            out += *s;
        }
    }
    return out;
}

// Set when text line ends may come back in another form. The saved file's
// first line end is not in the style the first load chose: a file that
// opens with a line feed before its main element keeps that line feed in
// front of the new declaration, where it becomes the first line end. Or a
// text holds a line feed that is no line end of its style (taken in before
// the style was known): it is written as "&#10;", and the loader gives every
// line feed the parser reports the file's style.
bool loose_line_ends = false;

bool same_text(const char* a, const char* b) {
    return loose_line_ends ? plain_line_ends(a) == plain_line_ends(b) : same_string(a, b);
}

bool has_stray_line_feed(const xml_node* root, int style) {
    if (style != 1 && style != 4) return false;
    for (const xml_node* node = root; node != nullptr; node = next_in_walk(node, root)) {
        if (node->kind != XML_NODE_ELEMENT) continue;
        for (const char* t = node->text; t != nullptr && *t != '\0'; ++t)
            if (*t == '\n' && (style == 4 || t == node->text || t[-1] != '\r')) return true;
    }
    return false;
}

bool same_node(const xml_node* a, const xml_node* b) {
    if (a->kind != b->kind || !same_string(a->name, b->name) || !same_text(a->text, b->text)) return false;
    if (!loose_line_ends && a->preceding_text_length != b->preceding_text_length) return false;
    if (a->attribute_count != b->attribute_count) return false;
    for (int i = 0; i < a->attribute_count; ++i) {
        if (!same_string(a->attributes[2 * i], b->attributes[2 * i])) return false;
        if (!same_string(a->attributes[2 * i + 1], b->attributes[2 * i + 1])) return false;
    }
    // Same shape: both have children or neither, both have a next sibling or neither.
    return (a->first_child == nullptr) == (b->first_child == nullptr) &&
           (a->next_sibling == nullptr) == (b->next_sibling == nullptr);
}

bool same_tree(const xml_node* a, const xml_node* b) {
    const xml_node* root_a = a;
    const xml_node* root_b = b;
    while (a != nullptr && b != nullptr) {
        if (!same_node(a, b)) return false;
        a = next_in_walk(a, root_a);
        b = next_in_walk(b, root_b);
    }
    return a == nullptr && b == nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    // The numbered slots keep their records once made; make them now so
    // that the leak check below sees only what one input costs.
    std::string warm = fuzz::scratch_file("warm.xml");
    const char doc[] = "<a/>";
    fuzz::write_bytes(warm, reinterpret_cast<const std::uint8_t*>(doc), sizeof doc - 1);
    xml_load(0, warm.c_str(), ENCODING_8BIT);
    xml_load(1, warm.c_str(), ENCODING_8BIT);
    xml_free(0);
    xml_free(1);
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
        // What 8-bit text cannot hold became "?" or a space, which may end
        // a name or an instruction early: such a tree need not come back.
        bool lossy = original->replacements != 0;
        fuzz::require(xml_load(1, saved.c_str(), flag) != 0, "xml_load of the saved file");
        if (!lossy) {
            fuzz::require(xml_status(1) == 0, "the saved file parses");
            xml_document* reloaded = xml_document_get(1);
            loose_line_ends = original->line_end_style != reloaded->line_end_style ||
                              has_stray_line_feed(original->document_node, original->line_end_style);
            fuzz::require(same_tree(original->document_node, reloaded->document_node), "reloaded tree equals saved");
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
    xml_free(0);
    xml_free(1);
    heap_counts after = heap_live();
    fuzz::require(after.blocks == before.blocks && after.bytes == before.bytes, "heap back to its start");
    return 0;
}
