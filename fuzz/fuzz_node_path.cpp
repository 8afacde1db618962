// xml_node_from_path with arbitrary paths from a chosen node of a fixed
// document: the result is always a node of that document or 0, and it is
// the node a plain restatement of the path rules finds.
#include <algorithm>

#include "fuzz/fuzz_support.h"

using namespace quillgate;

namespace {

const char fixed_document[] =
    "<?xml version=\"1.0\"?>\r\n<!DOCTYPE NotepadPlus>\r\n<!-- first comment -->\r\n<?editor keep?>\r\n"
    "<NotepadPlus>\r\n    <GUIConfigs>\r\n        <GUIConfig name=\"ToolBar\">standard</GUIConfig>\r\n"
    "        <!-- inner -->\r\n        <GUIConfig name=\"StatusBar\">show</GUIConfig>\r\n"
    "        <![CDATA[raw <text>]]>\r\n    </GUIConfigs>\r\n    <FileBrowser latestSelectedItem=\"\">\r\n"
    "        <root foldername=\"C:\\a\\work\" />\r\n        <root foldername=\"C:\\b\" />\r\n        <root />\r\n"
    "    </FileBrowser>\r\n    <a><b><c><d/></c></b><b/><b><c/></b></a>\r\n    <!-- second --><?x y?><?z?>\r\n"
    "</NotepadPlus>\r\n<!-- last -->\r\n";

std::vector<xml_node*> nodes; // every node of the document, in walk order

// The path rules, restated.
xml_node* reference_path(xml_node* node, const std::string& path) {
    static const std::pair<const char*, int> kinds[] = {{"#comment", XML_NODE_COMMENT},
                                                        {"#cdata", XML_NODE_CDATA},
                                                        {"#dtd", XML_NODE_DTD},
                                                        {"#instruction", XML_NODE_INSTRUCTION}};
    std::size_t p = 0;
    xml_node* current = node;
    if (!path.empty() && path[0] == '/') {
        xml_document* document = node != nullptr ? xml_document_get(node->document) : nullptr;
        current = document != nullptr ? document->document_node : nullptr;
        if (current == nullptr) return nullptr;
        p = 1;
    }
    while (p < path.size()) {
        if (current == nullptr) return nullptr;
        std::size_t end = std::min(path.find_first_of("/[", p), path.size());
        std::string name = path.substr(p, end - p);
        std::uint32_t index = 0;
        if ((p = end) < path.size() && path[p] == '[') {
            for (++p; p < path.size() && path[p] != ']'; ++p)
                if (path[p] >= '0' && path[p] <= '9') index = index * 10u + static_cast<std::uint32_t>(path[p] - '0');
            if (p < path.size()) ++p;
        }
        if (p < path.size() && path[p] == '/') ++p;
        int kind = XML_NODE_ELEMENT;
        for (auto [text, k] : kinds) kind = name == text ? k : kind;
        // "*" counts every child; a kind counts its own, elements by name.
        std::uint32_t seen = 0;
        for (current = current->first_child; current != nullptr; current = current->next_sibling)
            if ((name == "*" || (current->kind == kind &&
                                 (kind != XML_NODE_ELEMENT || (current->name != nullptr && name == current->name)))) &&
                ++seen == std::max(index, 1u))
                break;
    }
    return current;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    std::string path = fuzz::scratch_file("fixed.xml");
    fuzz::write_bytes(path, reinterpret_cast<const std::uint8_t*>(fixed_document), sizeof fixed_document - 1);
    fuzz::require(xml_load(0, path.c_str(), ENCODING_8BIT) != 0 && xml_status(0) == 0, "the fixed document loads");
    for (xml_node* node = xml_document_get(0)->document_node; node != nullptr; node = fuzz::next_in_walk(node, nullptr))
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
    fuzz::require_heap_at(before, "a lookup allocates nothing");
    // The restatement never leaves the document, so this also keeps the
    // result to a node of it or 0.
    fuzz::require(found == reference_path(start, path), "the result is the one the rules give");
    return 0;
}
