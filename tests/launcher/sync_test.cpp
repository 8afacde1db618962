// Stored paths following a moved kit: the matching rules in one table and as
// properties of generated texts, and a move of the editor files under every
// injected failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

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

int on_disk(const void*, std::string_view path) {
    return path == "F:\\d\\n" || path == "F:\\both" || path == "E:\\both" || path == "F:\\My D\\a b";
}

// The piece after the move, and how many paths moved.
std::pair<std::string, long> moved(std::string_view piece, std::string_view from, std::string_view to, bool nocase) {
    kit_move move{from, to, nocase, only_drive_letter_differs(from, to, nocase) ? on_disk : nullptr};
    text out;
    long count = move_kit_paths(piece, move, &out);
    return {count > 0 ? std::string(out.view()) : std::string(piece), count};
}

class KitPaths : public HeapChecked {
protected:
    // Numbered slots keep their blocks for reuse; they must exist before the
    // heap's count is taken.
    void SetUp() override {
        slot_acquire(file_table(), state_file_slot);
        slot_acquire(xml_table(), config_document_slot);
        HeapChecked::SetUp();
    }
    void sync(const std::string& launcher) {
        sync_workspace_folder(launcher.c_str(), kit_.file("").string().c_str());
        xml_free(config_document_slot); // the launcher keeps it until shutdown
    }
    Kit kit_{"sync"};
};

TEST_F(KitPaths, MatchTableAndGeneratedPieces) {
    const char* const rows[][5] = {
        // piece, old folder, new folder, "i" to ignore case, piece after
        {"E:\\k\\a e:\\K\\b", "E:\\k\\", "D:\\n\\", "i", "D:\\n\\a D:\\n\\b"},
        {"E:\\k\\a e:\\K\\b", "E:\\k\\", "D:\\n\\", "", "D:\\n\\a e:\\K\\b"},
        {"E:\\k2\\a E:\\k xE:\\k\\ C:\\E:\\k\\", "E:\\k\\", "D:\\n\\", "i", nullptr},
        {"\"E:\\k\\r.exe\" -o=E:\\k\\w;E:\\k\\v", "E:\\k\\", "D:\\n\\", "i", "\"D:\\n\\r.exe\" -o=D:\\n\\w;D:\\n\\v"},
        {"E:\\\xC3\xA9\\ E:\\\xC3\x89\\", "E:\\\xC3\xA9\\", "D:\\", "i", "D:\\ E:\\\xC3\x89\\"},
        {"/o/k/a:/o/k/b /x/o/k/c", "/o/k/", "/n/", "", "/n/a:/n/b /x/o/k/c"},
        {"/a/b/x /a/y", "/a/", "/a/b/", "", "/a/b/x /a/b/y"}, // a new folder inside the old one
        {"/a/b/x", "/a/b/", "/a/", "", "/a/x"},
        // The drive letter alone changed: what exists only under the new
        // letter moves; a candidate path ends at a quote, or at a space.
        {"E:\\d\\n|E:\\both|E:\\gone|C:\\d\\n", "E:\\k\\", "F:\\k\\", "i", "F:\\d\\n|E:\\both|E:\\gone|C:\\d\\n"},
        {"\"E:\\My D\\a b\" -x e:\\k\\k", "E:\\k\\", "F:\\k\\", "i", "\"F:\\My D\\a b\" -x F:\\k\\k"},
        {"E:\\d\\n", "E:\\k\\", "F:\\k2\\", "i", nullptr},
    };
    for (const auto& row : rows) {
        const auto [once, count] = moved(row[0], row[1], row[2], *row[3] != 0);
        EXPECT_EQ(once, row[4] ? row[4] : row[0]) << row[0];
        EXPECT_EQ(moved(once, row[1], row[2], *row[3] != 0).second, 0) << "moved again: " << once;
    }
    // Any text: whole folders are replaced, and a second move changes nothing.
    std::mt19937 random(12);
    const std::string folders[][2] = {{"E:\\kit\\", "C:\\Users\\k\\"}, {"/o/", "/o/n/"}, {"/a/b/", "/b/"}};
    const char* const parts[] = {"E:\\kit\\", "e:\\KIT\\", "/o/", "/a/b/", "/b/", "x", " ", "\"", "\\", "/", "2"};
    for (int round = 0; round < 3000; ++round) {
        const auto& folder = folders[round % 3];
        std::string piece;
        for (int k = random() % 12; k > 0; --k) piece += parts[random() % std::size(parts)];
        const auto [once, count] = moved(piece, folder[0], folder[1], round % 2 != 0);
        ASSERT_GE(count, 0);
        EXPECT_EQ(once.size(), piece.size() + count * (folder[1].size() - folder[0].size())) << piece;
        EXPECT_EQ(moved(once, folder[0], folder[1], round % 2 != 0).second, 0) << piece;
    }
}

// A file as the editor saves it: shortcuts.xml in ISO-8859-1, the others in
// UTF-8; é (and the launcher folder) in each one's own form.
std::string saved(int k, const std::string& kit) {
    std::string s = kit_file(k, kit);
    if (k != 2) return s;
    for (std::size_t e; (e = s.find("\xC3\xA9")) != std::string::npos;) s.replace(e, 2, "\xE9");
    return s.replace(s.find("UTF-8"), 5, "ISO-8859-1");
}

// Every allocation and every I/O call fails in turn, once or from then on:
// nothing leaks, each file is wholly old or wholly new, no temporary file
// is left, and the state file records the move only once all files have it.
TEST_F(KitPaths, EditorFilesFollowAMoveWhateverFails) {
    const std::uint16_t e_acute = 0xE9; // in the ANSI code page: one byte or two
    const std::string launcher = "D:\\caf" + std::string(utf16_to_ansi(&e_acute, 1).view()) + "\\";
    for (int faults = 0; faults < 4; ++faults) {
        const bool io = faults % 2 != 0;
        int n = 0;
        for (bool fired = true; fired && !HasFailure() && n < 100000; ++n) {
            for (int k = 0; k < 3; ++k) write_file(kit_.file(editor_files[k][0]), saved(k, old_kit));
            write_file(kit_.file("state.txt"), old_kit);
            io ? io_fail_after(n, faults > 1) : heap_fail_after(n, faults > 1);
            sync(launcher);
            fired = io ? io_fault_fired() : heap_fault_fired();
            heap_fail_after(-1);
            io_fail_after(-1);
            int moved = 0;
            for (int k = 0; k < 3; ++k) {
                const std::string now = read_file(kit_.file(editor_files[k][0]));
                moved += now == saved(k, "D:\\caf\xC3\xA9\\");
                EXPECT_TRUE(now == saved(k, "D:\\caf\xC3\xA9\\") || now == saved(k, old_kit)) << n << " " << k;
            }
            const std::string state = read_file(kit_.file("state.txt"));
            EXPECT_TRUE(state != launcher || moved == 3) << "failure point " << n;
            EXPECT_TRUE(fired || state == launcher);
            EXPECT_EQ(std::distance(fs::directory_iterator(kit_.file("")), fs::directory_iterator()), 4) << n;
        }
        EXPECT_GT(n, io ? 10 : 50);
        std::printf("failure points (%s, %s): %d\n", io ? "I/O" : "allocation", faults > 1 ? "persistent" : "once", n);
    }
}

} // namespace
} // namespace quillgate
