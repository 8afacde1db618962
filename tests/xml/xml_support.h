// Helpers of the XML tests: loading from memory in pieces of any size,
// printing trees for comparison, and a scratch folder per test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/xml/xml.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate::xmltest {

struct memory_source {
    std::string_view bytes;
    std::size_t at = 0;
};

inline std::uint32_t read_memory(void* context, void* into, std::uint32_t size) {
    auto* source = static_cast<memory_source*>(context);
    std::size_t n = std::min<std::size_t>(size, source->bytes.size() - source->at);
    std::copy_n(source->bytes.data() + source->at, n, static_cast<char*>(into));
    source->at += n;
    return static_cast<std::uint32_t>(n);
}

// Loads `bytes` through the loader's own path, fed `piece` bytes at a time.
inline std::intptr_t load_memory(object_id slot, std::string_view bytes, int encoding, int piece = 16384) {
    memory_source source{bytes};
    xml_byte_source from{read_memory, &source, static_cast<std::int64_t>(bytes.size()), piece};
    return xml_load_from(slot, &from, encoding);
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

// Each byte followed by a zero byte: UTF-16LE of ISO-8859-1 text.
inline std::string widen(std::string_view narrow) {
    std::string out;
    for (char c : narrow) out += {c, '\0'};
    return out;
}

// One line per node in document order, indented by depth: kind, name,
// [text] and the parent text before it, each only where present.
inline std::string dump(const xml_node* root) {
    std::string out;
    const xml_node* node = root;
    int depth = 0;
    while (node != nullptr) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + std::to_string(node->kind);
        if (node->name != nullptr) out += " " + show(node->name);
        if (node->text != nullptr) out += " [" + show(node->text) + "]";
        if (node->preceding_text_length != 0) out += " pre=" + std::to_string(node->preceding_text_length);
        for (int i = 0; i < node->attribute_count && node->attributes != nullptr; ++i)
            out += " " + show(node->attributes[2 * i]) + "=" + show(node->attributes[2 * i + 1]);
        out += "\n";
        if (node->first_child != nullptr) {
            node = node->first_child;
            ++depth;
            continue;
        }
        while (node != root && node->next_sibling == nullptr) {
            node = node->parent;
            --depth;
        }
        node = node == root ? nullptr : node->next_sibling;
    }
    return out;
}

inline std::string summary(object_id id) {
    xml_document* document = xml_document_get(id);
    if (document == nullptr) return "no document";
    return "status=" + std::to_string(document->status) + " lines=" + std::to_string(document->line_end_style) +
           " encoding=" + std::to_string(document->encoding) + " standalone=" + std::to_string(document->standalone) +
           " utf8=" + std::to_string(document->declare_utf8) +
           " main=" + (document->main_element != nullptr ? show(document->main_element->name) : "-") + "\n" +
           dump(document->document_node);
}

// Loads the same bytes whole, byte by byte and in odd pieces; every tree
// must be the same. Returns the summary of the whole load.
inline std::string load_all_ways(std::string_view bytes, int encoding) {
    std::string whole;
    for (int piece : {16384, 1, 2, 3, 7, 61}) {
        EXPECT_NE(load_memory(7, bytes, encoding, piece), 0) << "piece " << piece;
        std::string seen = summary(7);
        xml_free(7);
        if (whole.empty()) whole = seen;
        EXPECT_EQ(seen, whole) << "piece " << piece;
    }
    return whole;
}

using testing::read_file;
using testing::write_file;

// Every test gets an empty folder of its own and leaves no document behind.
class XmlTest : public testing::HeapChecked {
protected:
    void SetUp() override {
        // Numbered slot blocks stay allocated once used; make them exist
        // before the heap is counted.
        [[maybe_unused]] static const bool slots_made = [] {
            for (object_id slot = 0; slot < 8; ++slot) slot_acquire(xml_table(), slot);
            return true;
        }();
        static const std::string run_tag = std::to_string(std::random_device{}());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  // A number of this run's own, so that two builds tested at
                  // once never share a folder.
                  (std::string("quillgate-xml-") + info->test_suite_name() + "-" + info->name() + "-" + run_tag);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        HeapChecked::SetUp();
    }
    void TearDown() override {
        xml_free(-1);
        HeapChecked::TearDown();
        std::error_code ignored;
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path file(const char* name) const { return folder_ / name; }
    std::string path(const char* name) const { return file(name).string(); }
    // Names in the folder, sorted.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Saves `slot` to a fresh file and returns its bytes.
    std::string saved(object_id slot, int flags = 0) {
        std::string target = path("saved.xml");
        std::filesystem::remove(target);
        EXPECT_EQ(xml_save(slot, target.c_str(), flags), 1);
        return read_file(target);
    }

    std::filesystem::path folder_;
};

} // namespace quillgate::xmltest
