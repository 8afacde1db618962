// Windows-only launcher scenarios: the session's "cmd" windows closed one
// poll after the other, and a kit whose drive letter changed, run with the
// console hidden; and a launcher started as from the desktop, not hidden,
// whose console is born hidden.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "launcher/launch.h"
#include "tests/launcher/kit.h"
#include "tests/support/heap_check.h"
#include "tests/support/results.h"

namespace quillgate::testing {

namespace {

// The times at which a stand-in window logged a close message.
std::vector<long long> closes(const fs::path& log) {
    std::istringstream in(read_file(log));
    std::vector<long long> times;
    for (std::string word; in >> word;)
        if (word != "ready") times.push_back(std::stoll(word));
    return times;
}

fs::path open_window(Kit& kit, const std::string& title, bool keep = false) {
    fs::path log = kit.root() / (std::to_string(std::hash<std::string>()(title)) + ".log");
    std::string parameters = "\"" + title + "\" \"" + log.string() + "\"" + (keep ? " keep" : "");
    kit.start(standin_path("window"), parameters);
    EXPECT_TRUE(wait_until([&] { return read_file(log).find("ready") != std::string::npos; })) << title;
    return log;
}

// Maps a drive letter to a folder on C:. Wine keeps its drives as links in
// the prefix's dosdevices folder, made here by the Unix ln that Wine runs
// for us; Windows itself maps one with DefineDosDevice.
bool map_drive(char letter, const fs::path& folder) {
    const char* prefix = std::getenv("WINEPREFIX");
    std::string target = folder.string();
    if (!prefix) return DefineDosDeviceA(0, (std::string(1, letter) + ":").c_str(), target.c_str());
    for (char& c : target) c = c == '\\' ? '/' : c;
    std::string parameters = "-sfn \"c:" + target.substr(2) + "\" \"" + prefix + "/dosdevices/" + letter + ":\"";
    program_run("Z:\\bin\\ln", parameters.c_str(), "", RUN_WAIT_EXIT);
    return wait_until([&] { return fs::exists(std::string(1, letter) + ":\\notepad"); });
}

// The processes of that image that `parent` started and that still run.
int children_named(DWORD parent, const std::string& image) {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        count += entry.th32ParentProcessID == parent && image_name_matches(entry.szExeFile, image.c_str());
    CloseHandle(snapshot);
    return count;
}

} // namespace

// Windows names no process's handles to others; but any handle open on the
// file without leave to share makes an exclusive open fail. The tests ask
// while the only other user of the kit is the program in question.
bool program_holds_open(const program_object*, const fs::path& file) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return error == ERROR_SHARING_VIOLATION;
}

using WindowsLauncher = HeapChecked;

TEST_F(WindowsLauncher, CmdWindowsAndAnotherDriveLetter) {
    {
        SCOPED_TRACE("the session's \"cmd\" windows get WM_CLOSE, a stubborn one a few times; others none");
        Kit kit("windows");
        kit.install_editor();
        const fs::path before = open_window(kit, "cmd before " + stamp());
        program_object* launcher = kit.start_launcher(true);
        // Newest first: "one" closes at the first poll, then the stubborn one
        // takes its few.
        fs::path stubborn = open_window(kit, "stubborn CMD", true), one = open_window(kit, "xcmdx one");
        fs::path others[] = {open_window(kit, ""), open_window(kit, "Other window")};
        kit.release_editor();
        const auto released = std::chrono::steady_clock::now();
        EXPECT_EQ(launcher ? program_wait(launcher, 30000) : -2, 0);
        const auto took = std::chrono::steady_clock::now() - released;
        ASSERT_EQ((results{static_cast<long long>(closes(one).size()), closes(stubborn).empty()}), (results{1, 0}));
        EXPECT_EQ(closes(stubborn).size(), std::size_t(cleanup_closes_per_window));
        EXPECT_GE(closes(stubborn)[0] - closes(one)[0], 50) << "the second after the next poll";
        const long long stubborn_ms = closes(stubborn).back() - closes(one)[0];
        std::printf("a window that refuses to close: %lld ms of closes; the clean-up took %lld ms\n", stubborn_ms,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        EXPECT_LT(took, std::chrono::milliseconds(cleanup_delay_ms + 2000 + 1500)) << "a second and about two more";
        EXPECT_EQ((results{closes(before).empty(), closes(others[0]).empty(), closes(others[1]).empty()}),
                  results(3, 1));
    }
    {
        SCOPED_TRACE("the stick under another letter: paths on it follow when they exist only there");
        Kit stick("stick-"), old_stick("old-stick-");
        ASSERT_EQ((results{map_drive('m', old_stick.root()), map_drive('n', stick.root())}), results(2, 1));
        for (const fs::path& file : {stick.root() / "note.txt", stick.root() / "both", old_stick.root() / "both"})
            write_file(file, "");
        Kit kit("kit", "N:\\");
        kit.install_editor();
        // Under M: the kit, a file gone from it, one on both sticks, and one on another drive.
        const auto session = [&](char kit_letter, char note_letter) {
            return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s a=\"") + kit_letter +
                   kit.folder().substr(1) + "a\">" + note_letter + ":\\note.txt m:\\both \"M:\\gone\" C:\\note.txt</s>";
        };
        write_file(kit.file("session.xml"), session('M', 'M'));
        write_file(kit.file("state.txt"), "M" + kit.folder().substr(1));
        program_object* launcher = kit.start_launcher(true);
        window_handle console = 0;
        EXPECT_TRUE(wait_until([&] { return (console = find_window_with_title("Quillgate by Trevane")) != 0; }));
        EXPECT_FALSE(console && IsWindowVisible(reinterpret_cast<HWND>(console))) << "the console is hidden";
        kit.release_editor();
        EXPECT_EQ(launcher ? program_wait(launcher, 30000) : -2, 0);
        EXPECT_TRUE(wait_until([] { return !find_window_with_title("Quillgate by Trevane"); })) << "gone with it";
        EXPECT_EQ(read_file(kit.file("state.txt")) + read_file(kit.file("session.xml")),
                  kit.folder() + session('N', 'N'));
    }
}

// Started as a double click starts it (SW_SHOWNORMAL, no console of its
// parent's), the launcher has its console made by a hidden copy of itself
// (console_open): the console is never shown, and the copy is gone by the
// time the editor runs. That it is never shown, not just hidden when looked
// at, only the X server under Wine can tell (scripts/bench-launch --wine
// --watch-console).
TEST_F(WindowsLauncher, StartedAsFromTheDesktopItsConsoleIsBornHidden) {
    Kit kit("desktop");
    kit.install_editor();
    kit.tell_editor(true);
    std::wstring command = L"\"" + fs::path(launcher_path()).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION launcher{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                               kit.root().c_str(), &startup, &launcher));
    CloseHandle(launcher.hThread);
    EXPECT_TRUE(wait_until([&] { return kit.last_editor_run()["complete"] == "1"; })) << "the editor started";
    window_handle console = 0;
    EXPECT_TRUE(wait_until([&] { return (console = find_window_with_title("Quillgate by Trevane")) != 0; }));
    EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(console))) << "the console is hidden";
    EXPECT_EQ(children_named(launcher.dwProcessId, fs::path(launcher_path()).filename().string()), 0)
        << "no copy of the launcher left";
    EXPECT_EQ(children_named(launcher.dwProcessId, "notepad++.exe"), 1);
    kit.release_editor();
    DWORD exit_code = 1;
    if (WaitForSingleObject(launcher.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(launcher.hProcess, 1);
    GetExitCodeProcess(launcher.hProcess, &exit_code);
    EXPECT_EQ(exit_code, 0u);
    CloseHandle(launcher.hProcess);
    EXPECT_TRUE(wait_until([] { return !find_window_with_title("Quillgate by Trevane"); })) << "gone with it";
}

} // namespace quillgate::testing
