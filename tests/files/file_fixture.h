// The file tests' fixture: a temporary folder per test, byte-exact helpers,
// and file slots made before the heap is measured (a numbered slot's block
// lives as long as the table).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "runtime/core/slots.h"
#include "runtime/files/files.h"
#include "tests/support/files.h"
#include "tests/support/heap_check.h"

namespace quillgate::testing {

class FileTest : public HeapChecked {
protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() / ("quillgate-files-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(folder_);
        for (object_id slot = 0; slot < 8; ++slot) slot_acquire(file_table(), slot);
        HeapChecked::SetUp();
    }
    void TearDown() override {
        file_close(-1);
        HeapChecked::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    void lay(const std::string& name, const std::string& bytes) const { write_file(folder_ / name, bytes); }
    std::string content(const std::string& name) const { return read_file(folder_ / name); }
    std::intptr_t open(object_id slot, const std::string& name) const { return file_open(slot, path(name).c_str()); }
    std::intptr_t open(object_id slot, const std::string& name, int mode, int options) const {
        return file_open_with_mode(slot, path(name).c_str(), mode, options);
    }
    static std::string line(object_id slot, int flags = ENCODING_8BIT) {
        return std::string(file_read_line(slot, flags).view());
    }
    static std::int32_t write(object_id slot, const std::string& text, int encoding = ENCODING_8BIT) {
        return file_write_text(slot, text.c_str(), encoding);
    }
    static file_object* record(object_id slot) { return static_cast<file_object*>(slot_get(file_table(), slot)); }

private:
    std::filesystem::path folder_;
};

} // namespace quillgate::testing
