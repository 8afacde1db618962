// xml_node_from_path with arbitrary paths from a chosen node of a fixed
// document: the result is always a node of that document or 0, and it is
// the node a plain restatement of the path rules finds.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

namespace {

const char fixed_document[] =
    "<?xml version=\"1.0\"?>\r\n<!DOCTYPE NotepadPlus>\r\n<!-- first comment -->\r\n<?editor "
    "keep?>\r\n<NotepadPlus>\r\n"
    "    <GUIConfigs>\r\n        <GUIConfig name=\"ToolBar\">standard</GUIConfig>\r\n        <!-- inner -->\r\n"
    "        <GUIConfig name=\"StatusBar\">show</GUIConfig>\r\n        <![CDATA[raw <text>]]>\r\n    </GUIConfigs>\r\n"
    "    <FileBrowser latestSelectedItem=\"\">\r\n        <root foldername=\"C:\\a\\work\" />\r\n"
    "        <root foldername=\"C:\\b\" />\r\n        <root />\r\n    </FileBrowser>\r\n"
    "    <a><b><c><d/></c></b><b/><b><c/></b></a>\r\n    <!-- second --><?x y?><?z?>\r\n</NotepadPlus>\r\n<!-- last "
    "-->\r\n";

std::vector<xml_node*> nodes; // every node of the document, in walk order

xml_node* next_in_walk(xml_node* node) {
    if (node->first_child != nullptr) return node->first_child;
    while (node != nullptr) {
        if (node->next_sibling != nullptr) return node->next_sibling;
        node = node->parent;
    }
    return nullptr;
}

// The path rules, restated.
xml_node* reference_path(xml_node* node, const std::string& path) {
    if (path.empty()) return node;
    std::size_t p = 0;
    xml_node* current = node;
    if (path[0] == '/') {
        if (node == nullptr) return nullptr;
        current = xml_document_get(node->document) ? xml_document_get(node->document)->document_node : nullptr;
        if (current == nullptr) return nullptr;
        p = 1;
    }
    for (;;) {
        if (p >= path.size()) return current;
        if (current == nullptr) return nullptr;
        std::size_t start = p;
        while (p < path.size() && path[p] != '/' && path[p] != '[') ++p;
        std::string name = path.substr(start, p - start);
        std::uint32_t index = 0;
        if (p < path.size() && path[p] == '[') {
            ++p;
            while (p < path.size() && path[p] != ']') {
                if (path[p] >= '0' && path[p] <= '9') index = index * 10u + static_cast<std::uint32_t>(path[p] - '0');
                ++p;
            }
            if (p < path.size()) ++p;
        }
        if (index == 0) index = 1;
        if (p < path.size() && path[p] == '/') ++p;
        current = current->first_child;
        if (name == "*") {
            for (std::uint32_t i = 1; i < index && current != nullptr; ++i) current = current->next_sibling;
            if (current == nullptr) return nullptr;
            continue;
        }
        int kind = XML_NODE_ELEMENT;
        if (name == "#comment") kind = XML_NODE_COMMENT;
        if (name == "#cdata") kind = XML_NODE_CDATA;
        if (name == "#dtd") kind = XML_NODE_DTD;
        if (name == "#instruction") kind = XML_NODE_INSTRUCTION;
        std::uint32_t seen = 0;
        for (; current != nullptr; current = current->next_sibling) {
            if (current->kind != kind) continue;
            if (kind == XML_NODE_ELEMENT && (current->name == nullptr || name != current->name)) continue;
            if (++seen == index) break;
        }
        if (current == nullptr) return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    std::string path = fuzz::scratch_file("fixed.xml");
    fuzz::write_bytes(path, reinterpret_cast<const std::uint8_t*>(fixed_document), sizeof fixed_document - 1);
    fuzz::require(xml_load(0, path.c_str(), ENCODING_8BIT) != 0 && xml_status(0) == 0, "the fixed document loads");
    for (xml_node* node = xml_document_get(0)->document_node; node != nullptr; node = next_in_walk(node))
        nodes.push_back(node);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks where the walk starts: no node, or one of the tree's.
    std::size_t pick = data[0] % (nodes.size() + 1);
    xml_node* start = pick == nodes.size() ? nullptr : nodes[pick];
    std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
    path = path.c_str(); // a text string ends at its first zero byte

    heap_counts before = heap_live();
    xml_node* found = xml_node_from_path(start, path.c_str());
    heap_counts after = heap_live();
    fuzz::require(after.blocks == before.blocks && after.bytes == before.bytes, "a lookup allocates nothing");
    bool known = found == nullptr;
    for (xml_node* node : nodes) known = known || node == found;
    fuzz::require(known, "the result is a node of the document or 0");
    fuzz::require(found == reference_path(start, path), "the result is the one the rules give");
    return 0;
}
