// The launcher: stored paths matched in one table and as properties of
// generated texts; a move of the editor files under every injected failure;
// folders, names and titles; the console's close event and the release step
// it runs; then the real launcher binary run in temporary kits, one scenario
// after the other.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <random>

#include "fuzz/reference.h"
#include "launcher/kit_lock.h"
#include "launcher/kit_paths.h"
#include "launcher/launch.h"
#include "launcher/sync.h"
#include "runtime/core/heap.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/platform/utf8.h"
#include "runtime/xml/xml.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"
#include "tests/support/results.h"

namespace quillgate {
namespace {

using namespace quillgate::testing;

bool on_disk(const void*, std::string_view path, bool* there) {
    *there = path == "F:\\d\\n" || path == "F:\\both" || path == "E:\\both" || path == "F:\\My D\\a b" ||
             path == "F:\\\x01\xE4\xB8\x8A";
    return true;
}

// The piece after the move, and how many paths moved (-1 when memory ran
// short).
std::pair<std::string, long> moved(std::string_view piece, std::string_view from, std::string_view to, bool nocase) {
    kit_move move{from, to, nocase, only_drive_letter_differs(from, to, nocase) ? on_disk : nullptr};
    text out;
    long count = 0;
    if (!move_kit_paths(piece, move, &out, &count)) count = -1;
    return {count > 0 ? std::string(out.view()) : std::string(piece), count};
}

class Launcher : public HeapChecked {
protected:
    // Numbered slots keep their blocks for reuse; they must exist before the
    // heap's count is taken.
    void SetUp() override {
        slot_acquire(file_table(), state_file_slot);
        slot_acquire(xml_table(), config_document_slot);
        HeapChecked::SetUp();
    }
    Kit kit_{"sync"};
};

TEST_F(Launcher, MatchTableAndGeneratedPieces) {
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
        {"E:\\\x01\xE4\xB8\x8A|", "E:\\k\\", "F:\\k\\", "i", "F:\\\x01\xE4\xB8\x8A|"}, // a held character
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

// Every allocation and every I/O call fails in turn, once or from then on:
// nothing leaks, each file is wholly old or wholly new, no temporary file
// is left, and the state file records the move only once all files have it.
// The editor saves shortcuts.xml in ISO-8859-1, the others in UTF-8; é (and
// the launcher folder) is in each one's own form.
TEST_F(Launcher, EditorFilesFollowAMoveWhateverFails) {
    const auto saved = [](int k, const std::string& kit) {
        std::string s = kit_file(k, kit);
        if (k != 2) return s;
        for (std::size_t e; (e = s.find("\xC3\xA9")) != std::string::npos;) s.replace(e, 2, "\xE9");
        return s.replace(s.find("UTF-8"), 5, "ISO-8859-1");
    };
    const std::uint16_t e_acute = 0xE9; // in the ANSI code page: one byte or two
    const std::string launcher = "D:\\caf" + std::string(utf16_to_ansi(&e_acute, 1).view()) + "\\";
    for (int faults = 0; faults < 4; ++faults) {
        const bool io = faults % 2 != 0;
        int n = 0;
        for (bool fired = true; fired && !HasFailure() && n < 100000; ++n) {
            for (int k = 0; k < 3; ++k) write_file(kit_.file(editor_files[k][0]), saved(k, old_kit));
            write_file(kit_.file("state.txt"), old_kit);
            io ? io_fail_after(n, faults > 1) : heap_fail_after(n, faults > 1);
            sync_workspace_folder(launcher.c_str(), kit_.file("").string().c_str());
            fired = io ? io_fault_fired() : heap_fault_fired();
            heap_fail_after(-1);
            io_fail_after(-1);
            xml_free(config_document_slot); // the launcher keeps it until shutdown
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
    // A UTF-16 configuration keeps U+4E0A in a value, saved as a reference;
    // a comment cannot hold it, so that file is left as it is and the move
    // stays unrecorded.
    const std::string shang("\x0A\x4E", 2);
    for (bool in_comment : {true, false}) {
        const std::string config = "\xFF\xFE" + fuzz::widen("<NotepadPlus>") +
                                   (in_comment ? fuzz::widen("<!--") + shang + fuzz::widen("-->") : "") +
                                   fuzz::widen("<File filename='" + old_kit) + shang +
                                   fuzz::widen("'/><FileBrowser><root/></FileBrowser></NotepadPlus>");
        write_file(kit_.file("config.xml"), config);
        write_file(kit_.file("state.txt"), old_kit);
        sync_workspace_folder(launcher.c_str(), kit_.file("").string().c_str());
        xml_free(config_document_slot);
        const std::string now = read_file(kit_.file("config.xml"));
        EXPECT_EQ(now == config, in_comment);
        EXPECT_EQ(now.find("=\"D:\\caf\xE9\\&#x4E0A;\"") != std::string::npos, !in_comment) << now;
        EXPECT_EQ(read_file(kit_.file("state.txt")), in_comment ? old_kit : launcher);
    }
}

TEST_F(Launcher, FoldersNamesTitlesAndTheDelay) {
    const char* const rows[][3] = {{"C:\\", "C:\\", "C:\\notepad\\notepad++.exe"},
                                   {"/srv/kit", "/srv/kit/", "/srv/kit/notepad/notepad++.exe"},
                                   {"", "", ""}}; // no folder, no editor path that could turn relative
    for (const auto& row : rows) {
        launch_folders folders = compute_launch_folders(row[0], row[0][0] == '/' ? '/' : '\\');
        EXPECT_EQ((std::pair{std::string(folders.launcher_folder.view()), std::string(folders.editor_path.view())}),
                  (std::pair{std::string(row[1]), std::string(row[2])}));
    }
    for (long n = 0; n < 3; ++n) {
        heap_fail_after(n);
        EXPECT_TRUE(compute_launch_folders("D:\\kit", '\\').editor_path.empty()) << n;
        heap_fail_after(-1);
    }
    EXPECT_TRUE(fs::equivalent(current_directory().c_str(), fs::current_path()));
    EXPECT_EQ(
        (results{image_name_matches("\"C:\\a b\\NOTEPAD++.EXE\" -x", "notepad++.exe"), title_contains("xcMdx", "cmd")}),
        results(2, 1));
    EXPECT_FALSE(image_name_matches("C:\\notepad++.exe/mynotepad++.exe.bak", "notepad++.exe"));
    EXPECT_EQ((results{title_contains("Command", "cmd"), title_contains("", "cmd"), title_contains("cmd", "")}),
              results(3, 0));
    EXPECT_EQ(terminate_process_named(("qg" + stamp() + ".exe").c_str(), 1), 0) << "nothing of that name to end";
    const process_time sessions[][3] = {{5, 5, 1}, {6, 5, 1}, {4, 5, 0}, {0, 5, 0}, {5, 0, 0}}; // created, start, in
    for (const auto& row : sessions) EXPECT_EQ(created_in_session(row[0], row[1]), row[2] != 0) << row[0];
    delay_ms(2), delay_ms(1);
    EXPECT_EQ(delay_resolution_requests(), 1) << "the timer resolution is asked for once";
}

// The release step ends the runtime for good, so each event is played in a
// child process that reports in its exit code whether it ran.
int handler_outcome(int event, const fs::path& folder) {
    write_file(folder / "a.xml", "<a/>");
    if (!xml_load(0, (folder / "a.xml").string().c_str(), ENCODING_8BIT)) return 1;
    if (!file_open(3, (folder / "s").string().c_str()) || file_write_text(3, "buffered", ENCODING_8BIT) <= 0) return 2;
    if (console_control_handler(event) != 0) return 3;
    return read_file(folder / "s") == "buffered" && !xml_document_get(0) ? 10 : 20;
}

TEST_F(Launcher, CloseEventRunsTheReleaseStepWhichWaitsForWorkUnderWay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int event :
         {console_ctrl_c, console_ctrl_break, console_ctrl_logoff, console_ctrl_shutdown, console_ctrl_close})
        EXPECT_EXIT(std::exit(handler_outcome(event, kit_.root())),
                    ::testing::ExitedWithCode(event == console_ctrl_close ? 10 : 20), "")
            << event;
    ASSERT_TRUE(runtime_work_begin());
    auto release = std::async(std::launch::async, runtime_end);
    EXPECT_EQ(release.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout) << "waits for the work";
    runtime_work_end();
    release.wait();
    EXPECT_FALSE(runtime_work_begin()) << "after the release nothing may be touched";
    runtime_end();
    ASSERT_TRUE(runtime_init()); // for the tests after this one
}

TEST_F(Launcher, LauncherScenarios) {
    {
        SCOPED_TRACE("a kit named in Cyrillic and CJK moved: the editor starts, every stored path follows");
        Kit kit("quillgate-\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80-\xE4\xBE\x8B\xE5\xAD\x90-");
        const char* const files[] = {"config.xml", "session.xml", "shortcuts.xml", "state.txt"};
        const std::string folder = kit.folder(); // UTF-8
        auto expect_files = [&](const std::vector<std::string>& want) {
            for (int k = 0; k < 4; ++k) EXPECT_EQ(read_file(kit.file(files[k])), want[k]) << files[k];
        };
        kit.install_editor();
        kit.lay_out(old_kit);
        // A plugin's settings in UTF-16 follow too.
        const fs::path ini = kit.file("plugins") / "Config" / "Recent.ini";
        const auto settings = [](const fs::path& kit_folder) {
            const std::u16string wide = u"[Recent]\r\nFile1=" + (kit_folder / "work").u16string() + u"\\a.txt\r\n";
            return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), 2 * wide.size());
        };
        fs::create_directories(ini.parent_path());
        write_file(ini, settings(old_kit));
        program_object* launcher = kit.start_launcher(true);
        ASSERT_NE(launcher, nullptr);
        ASSERT_EQ(kit.last_editor_run()["argc"], "1") << "the editor started, given no argument";
        for (const char* name : files) EXPECT_FALSE(program_holds_open(launcher, kit.file(name))) << name;
        EXPECT_EQ(program_wait(launcher, 200), -1) << "waiting for the editor";
        kit.release_editor();
        auto released = std::chrono::steady_clock::now();
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        EXPECT_GE(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(900)) << "a second's pause";
        expect_files({kit_file(0, folder), kit_file(1, folder), kit_file(2, folder), folder});
        EXPECT_EQ(read_file(ini), settings(kit.root()));

        // The same folder (on the state file's first line): nothing is touched.
        kit.lay_out(old_kit);
        write_file(kit.file("state.txt"), folder + "\r\nmore");
        EXPECT_EQ(kit.run_launcher(), 0);
        expect_files({kit_file(0, old_kit), kit_file(1, old_kit), kit_file(2, old_kit), folder + "\r\nmore"});

        // A file that cannot be written keeps the move unrecorded until it
        // can be moved whole (as does one that lost characters on loading,
        // played above); a missing or malformed one is left alone for good,
        // and one whose encoding lacks the folder's characters gets them as
        // references (a CDATA section closes around them).
        kit.lay_out(old_kit);
        fs::remove(kit.file("shortcuts.xml"));
        const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        fs::permissions(kit.file("session.xml"), write, fs::perm_options::remove);
        EXPECT_EQ(kit.run_launcher(), 0);
        expect_files({kit_file(0, folder), kit_file(1, old_kit), "", old_kit});
        fs::permissions(kit.file("session.xml"), fs::perms::owner_write, fs::perm_options::add);
        std::string latin1 = kit_file(2, old_kit);
        write_file(kit.file("shortcuts.xml"), latin1.replace(latin1.find("UTF-8"), 5, "ISO-8859-1"));
        write_file(kit.file("config.xml"), "<NotepadPlus>" + old_kit);
        EXPECT_EQ(kit.run_launcher(), 0);
        const std::string in_references = referenced(folder);
        std::string moved = kit_file(2, in_references);
        moved.replace(moved.find("UTF-8"), 5, "ISO-8859-1");
        std::string in_cdata = "<![CDATA[" + in_references;
        for (std::size_t at; (at = in_cdata.find("-&#")) != std::string::npos;) in_cdata.insert(at + 1, "]]>");
        for (std::size_t at; (at = in_cdata.find(";-")) != std::string::npos;) in_cdata.insert(at + 1, "<![CDATA[");
        moved.replace(moved.find("<![CDATA[" + in_references), 9 + in_references.size(), in_cdata);
        expect_files({"<NotepadPlus>" + old_kit, kit_file(1, folder), moved, folder});
    }
    {
        SCOPED_TRACE("the clean-up ends the oldest php.exe and the ConEmu.exe of the session, nothing older");
        Kit kit("session");
        kit.install_editor();
        program_object* before[] = {kit.start_sleeper("php.exe"), kit.start_sleeper("ConEmu.exe")};
        next_clock_tick();
        program_object* launcher = kit.start_launcher(true);
        program_object* php = kit.start_sleeper("php.exe");
        next_clock_tick();
        program_object* during[] = {php, kit.start_sleeper("php.exe"), kit.start_sleeper("ConEmu.exe")};
        ASSERT_EQ((results{!!launcher, !!before[0], !!before[1], !!during[0], !!during[1], !!during[2]}),
                  results(6, 1));
        kit.release_editor();
        EXPECT_EQ(program_wait(launcher, 30000), 0);
        EXPECT_EQ((results{program_wait(during[0], 10000), program_wait(during[2], 10000)}), results(2, 9));
        EXPECT_EQ(program_wait(during[1], 300), -1) << "one php.exe only";
        EXPECT_EQ((results{program_wait(before[0], 0), program_wait(before[1], 0)}), results(2, -1))
            << "the user's own are left";
    }
    {
        SCOPED_TRACE("without an editor the session is the launcher's: nothing of the user's ends");
        Kit kit("missing");
        fs::remove(kit.file(""));
        program_object* before[] = {kit.start_sleeper("php.exe"), kit.start_sleeper("ConEmu.exe")};
        ASSERT_EQ((results{!!before[0], !!before[1]}), results(2, 1));
        next_clock_tick();
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(kit.run_launcher(), 0);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
        std::printf("no editor: the launcher took %lld ms\n", static_cast<long long>(took.count()));
        EXPECT_GE(took, std::chrono::milliseconds(900)) << "a second";
        EXPECT_LT(took, std::chrono::milliseconds(3000)) << "a second";
        EXPECT_EQ((results{program_wait(before[0], 0), program_wait(before[1], 0)}), results(2, -1));
        EXPECT_FALSE(fs::exists(kit.file("state.txt"))) << "no editor folder, nothing recorded";
    }
    {
        SCOPED_TRACE("one launch at a time: a kit locked by another launcher is left alone");
        Kit kit("locked");
        kit.install_editor();
        std::string folder = kit.folder(); // named in other letters where paths ignore case
        for (char& c : folder)
            c = path_ignores_case ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        ASSERT_EQ(kit_lock_take(folder.c_str()), 1);
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ((results{kit.editor_runs(), fs::exists(kit.file("state.txt"))}), results(2, 0))
            << "nothing started, written";
        kit_lock_release();
        for (int round = 0; round < 3; ++round) {
            std::vector<program_object*> launchers = kit.start_launchers(2);
            for (program_object* launcher : launchers) EXPECT_EQ(program_wait(launcher, 30000), 0);
            EXPECT_EQ(kit.editor_runs(), 1) << "two launchers started together, round " << round;
        }
    }
    {
        SCOPED_TRACE("an editor already running, in any letter case, stops the launch at once");
        Kit kit("running");
        kit.install_editor();
        program_object* running = kit.start_sleeper("NOTEPAD++.EXE");
        program_object* php = kit.start_sleeper("php.exe");
        ASSERT_EQ((results{!!running, !!php, process_appears("notepad++.exe"), process_appears("php.exe")}),
                  results(4, 1));
        EXPECT_EQ(kit.run_launcher(), 0);
        EXPECT_EQ((results{!kit.last_editor_run().empty(), fs::exists(kit.file("state.txt"))}), results(2, 0))
            << "nothing started, written";
        EXPECT_EQ((results{program_wait(php, 0), program_wait(running, 0)}), results(2, -1)) << "nothing terminated";
    }
}

} // namespace
} // namespace quillgate
