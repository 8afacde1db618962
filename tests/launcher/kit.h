// A portable kit laid out in a temporary folder, the editor files that keep
// paths, and the real launcher run in it as the user would: current directory
// the kit, the stand-in editor as notepad\notepad++.exe.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "launcher/desktop.h"
#include "runtime/platform/utf8.h"
#include "runtime/programs/programs.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace quillgate::testing {

namespace fs = std::filesystem;

// Polls for about ten seconds at most.
inline bool wait_until(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
}
inline bool process_appears(const char* image) {
    return wait_until([&] { return is_process_running(image) != 0; });
}
// POSIX dates processes in clock ticks (10 ms): two processes started within
// one tick cannot be told apart, and one started in the tick of a session's
// start counts as the session's. Scenarios that need an order wait this long.
inline void next_clock_tick() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }
inline std::string stamp() { return std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()); }
// The folder a kit was moved from.
inline const std::string old_kit = fs::path::preferred_separator == '\\' ? "E:\\kit\\" : "/media/E/kit/";

// The editor's files in the launcher's saved form. {K} stands for the kit
// folder (old before the move, new after), {U} for it in other letters
// (followed where paths ignore case), {O} for the old folder where it never
// moves (comments, instructions, inside another path), {S} for it without
// its separator (a sibling folder).
inline const char* const editor_files[][2] = {
    {"config.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NotepadPlus>\r\n  <!-- {O} -->\r\n"
                   "  <History><File filename=\"{K}work\\a.txt\"/><File filename=\"{U}b.txt\"/>"
                   "<File filename=\"{S}2\\c.txt\"/><File filename=\"C:\\x{O}d\"/></History>\r\n"
                   "  <FileBrowser><root foldername=\"{K}work\"/><root foldername=\"{K}x\"/></FileBrowser>\r\n"
                   "</NotepadPlus>\r\n"},
    {"session.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NotepadPlus><Session><mainView>\r\n"
                    "  <File filename=\"{K}work\\a &amp; b.txt\" backupFilePath=\"{K}notepad\\backup\\a@1\"/>\r\n"
                    "</mainView></Session></NotepadPlus>\r\n"},
    {"shortcuts.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<NotepadPlus><UserDefinedCommands>\r\n"
                      "  <Command name=\"Run\">\"{K}tools\\run.exe\" -o {K}work<!-- {O} -->;{K}a</Command>\r\n"
                      "  <Command name=\"Raw\"><![CDATA[{K}b]]><?pi {O}?></Command>\r\n"
                      "</UserDefinedCommands></NotepadPlus>\r\n"},
};

inline std::string kit_file(int file, const std::string& kit) {
    std::string upper = old_kit, content = editor_files[file][1];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (auto [key, value] : {std::pair{"{K}", kit},
                              {"{U}", kit == old_kit || !path_ignores_case ? upper : kit},
                              {"{O}", old_kit},
                              {"{S}", old_kit.substr(0, old_kit.size() - 1)}}) {
        for (std::size_t at; (at = content.find(key)) != std::string::npos;) content.replace(at, 3, value);
    }
    return content;
}

// Every non-ASCII character as a hexadecimal reference, as older editors
// wrote them.
inline std::string referenced(const std::string& utf8) {
    std::string out;
    for (std::size_t at = 0, length = 0; at < utf8.size(); at += length) {
        std::uint32_t c =
            utf8_decode(reinterpret_cast<const unsigned char*>(utf8.data() + at), utf8.size() - at, &length);
        char reference[16];
        std::snprintf(reference, sizeof reference, "&#x%04X;", c);
        out += c < 0x80 ? utf8.substr(at, 1) : std::string(reference);
    }
    return out;
}

class Kit {
public:
    // The label may hold any characters, in UTF-8.
    explicit Kit(const std::string& label, const fs::path& parent = fs::temp_directory_path())
        : root_(parent / std::u8string(reinterpret_cast<const char8_t*>(label.data()), label.size()) += stamp()) {
        fs::create_directories(root_ / "notepad");
    }
    ~Kit() {
        for (program_object* program : started_)
            kill_program(program), program_wait(program, 10000), program_close(program);
        std::error_code ignored;
        for (const fs::path& path : {root_, log_, fs::path(log_.string() + ".go")}) fs::remove_all(path, ignored);
    }

    const fs::path& root() const { return root_; }
    fs::path file(const std::string& name) const { return root_ / "notepad" / name; }
    // The launcher folder as its bytes: UTF-8 where the name is not ASCII.
    std::string folder() const { return reinterpret_cast<const char*>((root_ / "").u8string().c_str()); }
    std::map<std::string, std::string> last_editor_run() const { return editor_last_run(log_); }
    void install_editor() const { fs::copy_file(standin_path("editor"), file("notepad++.exe")); }
    // The editor files and the state file as the kit left them in `kit`.
    void lay_out(const std::string& kit) const {
        for (int k = 0; k < 3; ++k) write_file(file(editor_files[k][0]), kit_file(k, kit));
        write_file(file("state.txt"), kit);
    }

    // Programs started here end with the kit.
    program_object* start(const std::string& program, const std::string& parameters = "", std::uint32_t flags = 0) {
        auto* started = reinterpret_cast<program_object*>(
            program_run(program.c_str(), parameters.c_str(), "", flags | RUN_KEEP_OBJECT));
        if (started) started_.push_back(started);
        return started;
    }
    // A stand-in sleeper running under the given image name until the kit goes.
    program_object* start_sleeper(const std::string& image) {
        if (!fs::exists(root_ / image)) fs::copy_file(standin_path("sleeper"), root_ / image);
        return start((root_ / image).string());
    }
    // Detached from the test's console, as when started from the desktop. It
    // inherits the kit as its current directory, whatever the name's
    // characters (a folder given as 8-bit text is in the test's code page).
    // A held editor runs until release_editor.
    program_object* start_launcher(bool hold_editor = false) {
        program_object* launcher = start_launchers(1, hold_editor)[0];
        if (hold_editor && launcher) wait_until([&] { return last_editor_run()["complete"] == "1"; });
        return launcher;
    }
    // Launchers started one right after the other, none waited for.
    std::vector<program_object*> start_launchers(int count, bool hold_editor = false) {
        tell_editor(hold_editor);
        const fs::path here = fs::current_path();
        fs::current_path(root_);
        std::vector<program_object*> launchers;
        while (count-- > 0) launchers.push_back(start(launcher_path(), "", RUN_HIDDEN));
        fs::current_path(here);
        return launchers;
    }
    // How many times the editor ran to its end since the last launch.
    int editor_runs() const {
        const std::string log = read_file(log_);
        int runs = 0;
        for (std::size_t at = 0; (at = log.find("\nend\n", at)) != std::string::npos; ++at) ++runs;
        return runs;
    }
    void release_editor() const { write_file(log_.string() + ".go", "go"); }
    // Where the next editor started logs its run, and whether it waits.
    void tell_editor(bool hold_editor) const {
        fs::remove(log_);
        set_environment("QUILLGATE_EDITOR_LOG", log_.string().c_str());
        set_environment("QUILLGATE_EDITOR_WAIT_FILE", hold_editor ? (log_.string() + ".go").c_str() : nullptr);
    }
    int run_launcher() { return program_wait(start_launcher(), 60000); }

private:
    fs::path root_;
    fs::path log_ = fs::temp_directory_path() / ("quillgate-editor-" + stamp() + ".log");
    std::vector<program_object*> started_;
};

// Whether a running program holds the file open.
bool program_holds_open(const program_object* program, const fs::path& file);

} // namespace quillgate::testing
