// Stored paths following a moved kit: the matching rules in one table and as
// properties of generated texts; the editor files moved in their own
// encodings; and the whole synchronisation under injected failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <set>

#include "launcher/kit_paths.h"
#include "launcher/sync.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/xml/xml.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

const std::set<std::string, std::less<>> on_disk = {"F:\\docs\\n.txt", "F:\\both", "E:\\both", "F:\\My Docs\\a b.txt"};
int in_set(const void*, std::string_view path) { return on_disk.count(path) ? 1 : 0; }

// The piece after the move, and how many paths moved.
std::pair<std::string, long> moved(std::string_view piece, std::string_view from, std::string_view to, bool nocase) {
    kit_move move{from, to, nocase};
    if (only_drive_letter_differs(from, to, nocase, '\\')) move.exists = in_set;
    text out;
    long count = move_kit_paths(piece, move, &out);
    return {count > 0 ? std::string(out.view()) : std::string(piece), count};
}

class KitPaths : public HeapChecked {};

TEST_F(KitPaths, MatchingTable) {
    const char* const rows[][5] = {
        // piece, old folder, new folder, "i" to ignore case, piece after
        {"E:\\kit\\a e:\\KIT\\b", "E:\\kit\\", "D:\\n\\", "i", "D:\\n\\a D:\\n\\b"},
        {"E:\\kit\\a e:\\KIT\\b", "E:\\kit\\", "D:\\n\\", "", "D:\\n\\a e:\\KIT\\b"},
        {"E:\\kit2\\a E:\\kit xE:\\kit\\ C:\\E:\\kit\\", "E:\\kit\\", "D:\\n\\", "i", nullptr},
        {"\"E:\\kit\\r.exe\" -o=E:\\kit\\w;E:\\kit\\v", "E:\\kit\\", "D:\\n\\", "i",
         "\"D:\\n\\r.exe\" -o=D:\\n\\w;D:\\n\\v"},
        {"E:\\caf\xC3\xA9\\ E:\\CAF\xC3\x89\\", "E:\\caf\xC3\xA9\\", "D:\\", "i", "D:\\ E:\\CAF\xC3\x89\\"},
        {"/old/kit/a:/old/kit/b /x/old/kit/c", "/old/kit/", "/new/", "", "/new/a:/new/b /x/old/kit/c"},
        {"/a/b/x /a/y", "/a/", "/a/b/", "", "/a/b/x /a/b/y"},
        {"/a/b/x", "/a/b/", "/a/", "", "/a/x"},
        // The drive letter alone changed: what exists only under the new
        // letter moves (the candidate path ends at a quote or a space).
        {"E:\\docs\\n.txt|E:\\both|E:\\gone|C:\\docs\\n.txt", "E:\\kit\\", "F:\\kit\\", "i",
         "F:\\docs\\n.txt|E:\\both|E:\\gone|C:\\docs\\n.txt"},
        {"\"E:\\My Docs\\a b.txt\" -x e:\\kit\\k", "E:\\kit\\", "F:\\kit\\", "i",
         "\"F:\\My Docs\\a b.txt\" -x F:\\kit\\k"},
        {"E:\\docs\\n.txt", "E:\\kit\\", "F:\\kit2\\", "i", nullptr},
    };
    for (const auto& row : rows) {
        const auto [once, count] = moved(row[0], row[1], row[2], *row[3] != 0);
        EXPECT_EQ(once, row[4] ? row[4] : row[0]) << row[0];
        EXPECT_EQ(moved(once, row[1], row[2], *row[3] != 0).second, 0) << "moved again: " << once;
    }
}

TEST_F(KitPaths, MovingIsIdempotentAndReplacesWholeFolders) {
    std::mt19937 random(12);
    const std::string folders[][2] = {{"E:\\kit\\", "C:\\Users\\k\\"}, {"/o/", "/o/n/"}, {"/a/b/", "/b/"}};
    const char* const parts[] = {"E:\\kit\\", "e:\\KIT\\", "/o/", "/a/b/", "/b/", "x", " ", "\"", "\\", "/", "2"};
    for (int round = 0; round < 3000; ++round) {
        const auto& folder = folders[round % 3];
        std::string piece;
        for (int k = random() % 12; k > 0; --k) piece += parts[random() % std::size(parts)];
        const bool nocase = round % 2 != 0;
        const auto [once, count] = moved(piece, folder[0], folder[1], nocase);
        ASSERT_GE(count, 0);
        EXPECT_EQ(once.size(), piece.size() + count * (folder[1].size() - folder[0].size())) << piece;
        EXPECT_EQ(moved(once, folder[0], folder[1], nocase).second, 0) << piece;
    }
}

class EditorFiles : public HeapChecked {
protected:
    void SetUp() override {
        // Numbered slots keep their blocks for reuse; make them exist before
        // the heap's count is taken.
        slot_acquire(file_table(), state_file_slot);
        slot_acquire(xml_table(), config_document_slot);
        HeapChecked::SetUp();
    }
    void sync(const std::string& launcher) {
        sync_workspace_folder(launcher.c_str(), kit_.file("").string().c_str());
        xml_free(config_document_slot); // the launcher keeps it until shutdown
    }
    std::string state() const { return read_file(kit_.file("state.txt")); }
    Kit kit_{"sync"};
};

// A character in the ANSI code page: its UTF-8 bytes where that is UTF-8,
// its one byte where a single-byte page has it, else nothing.
std::string in_ansi(const std::string& utf8, std::uint16_t unit) {
    for (const std::string& bytes : {utf8, std::string(1, static_cast<char>(unit))}) {
        text wide = ansi_to_utf16(bytes.c_str());
        if (wide.size() == 2 && *reinterpret_cast<const std::uint16_t*>(wide.c_str()) == unit) return bytes;
    }
    return "";
}

TEST_F(EditorFiles, FollowTheKitInTheirOwnEncoding) {
    const std::string launcher = "D:\\caf" + in_ansi("\xC3\xA9", 0xE9) + "\\";
    kit_.lay_out(old_kit);
    write_file(kit_.file("state.txt"), old_kit);
    sync(launcher);
    kit_.expect_files("D:\\caf\xC3\xA9\\");
    EXPECT_EQ(state(), launcher);
    write_file(kit_.file("state.txt"), launcher + "\r\nmore");
    write_file(kit_.file("config.xml"), "");
    sync(launcher);
    EXPECT_EQ(state(), launcher + "\r\nmore") << "only the first line counts";

    // A file saved as ISO-8859-1 takes é as one byte, and a folder it cannot
    // hold not at all; either way the folder is recorded.
    auto latin1 = [](std::string s) { return s.replace(s.find("UTF-8"), 5, "ISO-8859-1"); };
    const std::string cases[][2] = {{launcher, "D:\\caf\xE9\\"},
                                    {"D:\\" + in_ansi("\xE4\xBE\x8B", 0x4F8B) + "\\", old_kit}};
    for (const auto& [folder, in_file] : cases) {
        if (folder == "D:\\\\") continue; // no such character in this code page
        write_file(kit_.file("config.xml"), latin1(kit_file(0, old_kit)));
        write_file(kit_.file("state.txt"), old_kit);
        sync(folder);
        EXPECT_EQ(read_file(kit_.file("config.xml")), latin1(kit_file(0, in_file)));
        EXPECT_EQ(state(), folder);
    }
}

// Every allocation and every I/O call fails in turn, once or from then on:
// nothing leaks, each file is wholly old or wholly new, no temporary file
// is left, and the state file records the move only once all files have it.
TEST_F(EditorFiles, EveryAllocationAndIoFailure) {
    const std::string launcher = "D:\\new kit\\";
    for (bool persistent : {false, true}) {
        for (bool io : {false, true}) {
            int n = 0;
            for (bool fired = true; fired && !HasFailure() && n < 100000; ++n) {
                kit_.lay_out(old_kit);
                write_file(kit_.file("state.txt"), old_kit);
                io ? io_fail_after(n, persistent) : heap_fail_after(n, persistent);
                sync(launcher);
                fired = io ? io_fault_fired() : heap_fault_fired();
                heap_fail_after(-1);
                io_fail_after(-1);
                int moved = 0;
                for (int k = 0; k < 3; ++k) {
                    const std::string now = read_file(kit_.file(editor_files[k][0]));
                    moved += now == kit_file(k, launcher);
                    EXPECT_TRUE(now == kit_file(k, launcher) || now == kit_file(k, old_kit)) << n << " " << k;
                }
                EXPECT_TRUE(state() != launcher || moved == 3) << "failure point " << n;
                EXPECT_EQ(std::distance(fs::directory_iterator(kit_.file("")), fs::directory_iterator()), 4) << n;
                EXPECT_TRUE(fired || state() == launcher);
            }
            EXPECT_GT(n, io ? 10 : 50);
            std::printf("failure points (%s, %s): %d\n", io ? "I/O" : "allocation", persistent ? "persistent" : "once",
                        n);
        }
    }
}

} // namespace
} // namespace quillgate
