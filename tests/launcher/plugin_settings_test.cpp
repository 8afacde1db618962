// Plugin settings after a move: a file in each encoding and one that does not
// decode, moved and moved again, then under every injected failure.
#include <gtest/gtest.h>

#include "fuzz/reference.h"
#include "launcher/plugin_settings.h"
#include "runtime/files/convert.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

enum class form { utf16, utf8_marked, ansi, utf16_lone_surrogate, utf16_half_unit };

// A file's name and form, and its text in Latin-1 with {K} for the kit and
// {O} for the old kit where it never moves (inside another path).
struct settings_row {
    const char* name;
    form kind;
    const char* text;
};

const settings_row rows[] = {
    {"Recent.ini", form::utf16, "[Recent]\r\nFile1={K}work\\a.txt\r\nCaf\xE9=C:\\x{O}b\r\n"},
    {"Tools.ini", form::utf8_marked, "caf\xE9={K}tools\\run.exe -o {K}work\nnone=\n"},
    {"Plain.cfg", form::ansi, "caf\xE9;{K}a;{K}b\r\n"}, // on POSIX the ANSI code page is UTF-8
    {"Broken.ini", form::utf16_lone_surrogate, "p={K}\r\n"},
    {"Cut.ini", form::utf16_half_unit, ""}, // the mark and half a unit
};

const std::string new_kit_latin1 = "D:\\caf\xE9\\";

std::string in_form(form kind, const std::string& latin1) {
    const std::string wide = fuzz::widen(latin1);
    switch (kind) {
    case form::utf16: return "\xFF\xFE" + wide;
    case form::utf16_lone_surrogate: return "\xFF\xFE" + wide + std::string("\x00\xD8\r\0\n\0", 6);
    case form::utf16_half_unit: return "\xFF\xFE" + wide + "x";
    case form::utf8_marked: return "\xEF\xBB\xBF" + fuzz::reference_latin1_to_utf8(latin1);
    case form::ansi: break;
    }
    return std::string(utf16_to_ansi(reinterpret_cast<const std::uint16_t*>(wide.data()), wide.size() / 2).view());
}

std::string file_for(const settings_row& row, const std::string& kit) {
    std::string text = row.text;
    for (std::size_t at; (at = text.find("{K}")) != std::string::npos;) text.replace(at, 3, kit);
    for (std::size_t at; (at = text.find("{O}")) != std::string::npos;) text.replace(at, 3, old_kit);
    return in_form(row.kind, text);
}

// What the file should hold after the move: one that does not decode stays.
std::string moved_file(const settings_row& row) {
    const bool decodes = row.kind != form::utf16_lone_surrogate && row.kind != form::utf16_half_unit;
    return file_for(row, decodes ? new_kit_latin1 : old_kit);
}

class PluginSettings : public HeapChecked {
protected:
    void SetUp() override {
        fs::create_directories(config_);
        new_kit_ = in_form(form::ansi, new_kit_latin1);
        HeapChecked::SetUp();
    }
    void lay_out() const {
        for (const auto& row : rows) write_file(config_ / row.name, file_for(row, old_kit));
    }
    bool move() const {
        return move_plugin_settings(kit_.file("").string().c_str(), old_kit.c_str(), new_kit_.c_str());
    }

    Kit kit_{"plugins"};
    fs::path config_ = kit_.file("plugins") / "Config";
    std::string new_kit_; // in the ANSI code page, as the launcher holds it
};

TEST_F(PluginSettings, FollowAMoveInTheirOwnEncoding) {
    lay_out();
    fs::create_directory(config_ / "folder.ini");
    std::vector<fs::file_time_type> times;
    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(move());
        for (std::size_t k = 0; k < std::size(rows); ++k) {
            EXPECT_EQ(read_file(config_ / rows[k].name), moved_file(rows[k])) << rows[k].name << " run " << run;
            if (run == 0) times.push_back(fs::last_write_time(config_ / rows[k].name));
            else EXPECT_EQ(fs::last_write_time(config_ / rows[k].name), times[k]) << "not rewritten: " << rows[k].name;
        }
    }
    fs::remove_all(kit_.file("plugins"));
    EXPECT_TRUE(move()) << "no settings folder, nothing to move";
}

// Each allocation and each I/O call fails in turn: no leak, no temporary
// file left, every file wholly old or wholly new, and done only when all
// are new.
TEST_F(PluginSettings, EveryFailurePointLeavesFilesWhole) {
    for (bool io : {false, true}) {
        int n = 0;
        for (bool fired = true; fired && !HasFailure(); ++n) {
            lay_out();
            io ? io_fail_after(n) : heap_fail_after(n);
            const bool done = move();
            fired = io ? io_fault_fired() : heap_fault_fired();
            io_fail_after(-1);
            heap_fail_after(-1);
            bool all_moved = true;
            for (const auto& row : rows) {
                const std::string now = read_file(config_ / row.name);
                all_moved = all_moved && now == moved_file(row);
                EXPECT_TRUE(now == moved_file(row) || now == file_for(row, old_kit)) << row.name << " at " << n;
            }
            EXPECT_TRUE(all_moved || !done) << n;
            EXPECT_TRUE(fired || done) << n;
            EXPECT_EQ(std::distance(fs::directory_iterator(config_), fs::directory_iterator()), std::ssize(rows)) << n;
        }
        EXPECT_GT(n, io ? 10 : 30);
    }
}

} // namespace
} // namespace quillgate
