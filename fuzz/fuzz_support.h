// What the fuzz targets and the XML tests share: the runtime started once,
// a scratch file of this process's own, a loud stop when an expectation
// fails (libFuzzer records the input that led there), and trees as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reference.h"
#include "runtime/runtime.h"

namespace quillgate::fuzz {

inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
    std::abort();
}

// The runtime heap and tables, made on the first input and kept.
inline void start_runtime() {
    static bool started = runtime_init();
    require(started, "runtime_init");
}

inline void require_heap_at(heap_counts before, const char* what = "heap back to its start") {
    heap_counts after = heap_live();
    require(after.blocks == before.blocks && after.bytes == before.bytes, what);
}

// A random number in the name keeps two runs at once apart; the files go
// when the process ends.
inline std::string scratch_file(const char* name) {
    static const std::string prefix =
        (std::filesystem::temp_directory_path() / ("quillgate-fuzz-" + std::to_string(std::random_device{}()) + "-"))
            .string();
    static std::vector<std::string> made;
    if (made.empty())
        std::atexit([] {
            for (const std::string& path : made) std::remove(path.c_str());
        });
    return made.emplace_back(prefix + name);
}

inline void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    require(out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size)).flush().good(), "write");
}

// The node after `node` in document order below `root`, or null.
template <class Node>
Node* next_in_walk(Node* node, const xml_node* root) {
    if (node->first_child != nullptr) return node->first_child;
    for (; node != root; node = node->parent)
        if (node->next_sibling != nullptr) return node->next_sibling;
    return nullptr;
}

// The line ends of a file's style (CR LF or CR) as one LF each, as a
// reader takes them; every other CR and LF stays the character it is.
inline std::string plain_line_ends(std::string s, int style) {
    const std::string end = style == XML_LINE_END_CRLF ? "\r\n" : style == XML_LINE_END_CR ? "\r" : "";
    for (std::size_t at = 0; !end.empty() && (at = s.find(end, at)) != std::string::npos; ++at)
        s.replace(at, end.size(), "\n");
    return s;
}

inline std::string show(const char* s) {
    std::string out = s == nullptr ? "<none>" : "";
    for (char hex[5]; s != nullptr && *s != '\0'; ++s) {
        auto c = static_cast<unsigned char>(*s);
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c < 0x20 || c >= 0x7F ? hex : std::string(1, *s);
    }
    return out;
}

// One line per node in document order, indented by depth: kind, name,
// [text] and the parent text before it, each only where present. Given the
// document's line-end style, the line ends of that style in the texts the
// loader gives that style (all but the document node's and a DOCTYPE's,
// which hold the file's bytes) are one LF each and the counts are left
// out, for trees whose files chose different line-end styles.
inline std::string dump(const xml_node* root, int loose_line_ends = -1) {
    std::string out;
    int depth = 0;
    for (const xml_node* node = root; node != nullptr;) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + std::to_string(node->kind);
        if (node->name != nullptr) out += " " + show(node->name);
        bool styled = loose_line_ends >= 0 && node->kind != XML_NODE_DOCUMENT && node->kind != XML_NODE_DTD;
        if (node->text != nullptr)
            out += " [" + show(styled ? plain_line_ends(node->text, loose_line_ends).c_str() : node->text) + "]";
        if (node->preceding_text_length != 0 && loose_line_ends < 0)
            out += " pre=" + std::to_string(node->preceding_text_length);
        for (int i = 0; i < node->attribute_count && node->attributes != nullptr; ++i)
            out += " " + show(node->attributes[2 * i]) + "=" + show(node->attributes[2 * i + 1]);
        out += "\n";
        const xml_node* next = next_in_walk(node, root);
        if (next != nullptr && next == node->first_child) ++depth;
        else
            for (const xml_node* up = node; next != nullptr && up->parent != next->parent; up = up->parent) --depth;
        node = next;
    }
    return out;
}

} // namespace quillgate::fuzz
