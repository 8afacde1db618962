// Helpers of the XML tests: loading from memory in pieces of any size,
// trees as text (shared with the fuzz targets), and a scratch folder per test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate::xmltest {

using fuzz::dump;
using fuzz::show;
using fuzz::widen;
using testing::read_file;
using testing::write_file;

// Loads `bytes` through the loader's own path, fed `piece` bytes at a time;
// the source promises `promised` bytes (all of them by default).
inline std::intptr_t load_memory(object_id slot, std::string_view bytes, int encoding, int piece = 16384,
                                 std::int64_t promised = -1) {
    auto read = [](void* context, void* into, std::uint32_t size) {
        auto* rest = static_cast<std::string_view*>(context);
        std::size_t n = std::min<std::size_t>(size, rest->size());
        std::copy_n(rest->data(), n, static_cast<char*>(into));
        rest->remove_prefix(n);
        return static_cast<std::uint32_t>(n);
    };
    xml_byte_source from{read, &bytes, promised < 0 ? static_cast<std::int64_t>(bytes.size()) : promised, piece};
    return xml_load_from(slot, &from, encoding);
}

inline std::string summary(object_id id) {
    xml_document* d = xml_document_get(id);
    if (d == nullptr) return "no document";
    return "repl=" + std::to_string(d->replacements) + " status=" + std::to_string(d->status) +
           " lines=" + std::to_string(d->line_end_style) + " encoding=" + std::to_string(d->encoding) +
           " standalone=" + std::to_string(d->standalone) + " utf8=" + std::to_string(d->declare_utf8) +
           " main=" + (d->main_element != nullptr ? show(d->main_element->name) : "-") + "\n" + dump(d->document_node);
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

// Every test gets an empty folder of its own and leaves no document behind.
class XmlTest : public testing::HeapChecked {
protected:
    void SetUp() override {
        // Numbered slot blocks stay allocated once used; make them exist
        // before the heap is counted (and the launcher's state file slot).
        for (object_id slot = 0; slot < 8; ++slot) slot_acquire(xml_table(), slot);
        slot_acquire(file_table(), 1);
        folder_ = std::filesystem::path(fuzz::scratch_file(""))
                      .concat(::testing::UnitTest::GetInstance()->current_test_info()->name());
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

    std::string path(const char* name) const { return (folder_ / name).string(); }
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
        EXPECT_EQ(xml_save(slot, target.c_str(), flags), 1);
        return read_file(target);
    }

    std::filesystem::path folder_;
};

} // namespace quillgate::xmltest
