// Deterministic benchmark inputs: editor configurations of a chosen size in
// the shape the launcher meets (CR LF, four-space indentation, attributes,
// comments, entity references, some character data), and a plain text file
// of CR LF lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillgate::bench {

// A small linear congruential generator: the same inputs on every machine.
class sequence {
public:
    explicit sequence(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint32_t state_;
};

inline const char* pick(sequence& s, std::initializer_list<const char*> words) {
    return words.begin()[s.below(static_cast<std::uint32_t>(words.size()))];
}

// An editor configuration of at least `target` bytes. The main element is
// NotepadPlus; its FileBrowser element holds the panel roots, the first of
// which is the one the launcher rewrites.
inline std::string make_config(std::size_t target, std::uint32_t seed = 7) {
    sequence s(seed);
    std::string out;
    out.reserve(target + 4096);
    const char* nl = "\r\n";
    auto line = [&](int depth, const std::string& text) {
        out.append(static_cast<std::size_t>(depth) * 4, ' ');
        out += text;
        out += nl;
    };
    line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    line(0, "<NotepadPlus>");
    line(1, "<!-- Written by the editor on exit; edits made while it runs are lost. -->");
    line(1, "<FileBrowser latestSelectedItem=\"\">");
    line(2, "<root foldername=\"C:\\old-kit\\work\" />");
    line(2, "<root foldername=\"C:\\Users\\Public\\Documents\" />");
    line(1, "</FileBrowser>");
    std::size_t block = 0;
    while (out.size() + 200 < target) {
        ++block;
        std::string n = std::to_string(block);
        line(1, "<GUIConfigs>");
        line(2, "<GUIConfig name=\"ToolBar\" visible=\"yes\">" + std::string(pick(s, {"standard", "small", "large"})) +
                    "</GUIConfig>");
        line(2, "<GUIConfig name=\"StatusBar\">show</GUIConfig>");
        line(2, "<GUIConfig name=\"TabBar\" dragAndDrop=\"yes\" drawTopBar=\"yes\" drawInactiveTab=\"yes\" "
                "reduce=\"yes\" closeButton=\"yes\" doubleClick2Close=\"no\" vertical=\"no\" multiLine=\"no\" />");
        line(2, "<GUIConfig name=\"ScintillaPrimaryView\" lineNumberMargin=\"show\" bookMarkMargin=\"show\" "
                "indentGuideLine=\"show\" folderMarkStyle=\"box\" currentLineHilitingShow=\"show\" edgeNbColumn=\"" +
                    std::to_string(60 + s.below(80)) + "\" />");
        line(2, "<!-- Block " + n + ": view settings kept between sessions. -->");
        line(2, "<GUIConfig name=\"NewDocDefaultSettings\" format=\"" + std::to_string(s.below(3)) +
                    "\" encoding=\"4\" lang=\"0\" codepage=\"-1\" openAnsiAsUTF8=\"yes\" />");
        line(2, "<GUIConfig name=\"Backup\" action=\"0\" useCustumDir=\"no\" dir=\"\" isSnapshotMode=\"yes\" "
                "snapshotBackupTiming=\"7000\" />");
        line(2, "<GUIConfig name=\"delimiterSelection\" leftmostDelimiter=\"40\" rightmostDelimiter=\"41\" "
                "delimiterSelectionOnEntireDocument=\"no\" />");
        line(1, "</GUIConfigs>");
        line(1, "<FindHistory nbMaxFindHistoryPath=\"10\" nbMaxFindHistoryFind=\"10\" matchWord=\"no\" "
                "matchCase=\"no\" wrap=\"yes\" directionDown=\"yes\">");
        for (int i = 0; i < 4; ++i) {
            line(2, "<Find name=\"" +
                        std::string(pick(s, {"TODO", "fixme &amp; later", "&lt;div&gt;", "#include", "return 0;",
                                             "&quot;quoted&quot;"})) +
                        " " + std::to_string(s.below(1000)) + "\" />");
        }
        line(1, "</FindHistory>");
        line(1, "<History nbMaxFile=\"10\" inSubMenu=\"no\" customLength=\"-1\">");
        for (int i = 0; i < 6; ++i) {
            line(2, "<File filename=\"C:\\kit\\work\\" + std::string(pick(s, {"notes", "src", "docs", "site"})) + "\\" +
                        std::string(pick(s, {"index", "main", "readme", "todo", "style"})) + n + "." +
                        std::string(pick(s, {"txt", "php", "css", "md", "xml"})) + "\" />");
        }
        line(1, "</History>");
        line(1, "<Session activeView=\"0\">");
        line(2, "<mainView activeIndex=\"" + std::to_string(s.below(5)) + "\">");
        line(3, "<File firstVisibleLine=\"" + std::to_string(s.below(5000)) +
                    "\" xOffset=\"0\" scrollWidth=\"1\" startPos=\"" + std::to_string(s.below(90000)) + "\" endPos=\"" +
                    std::to_string(s.below(90000)) +
                    "\" selMode=\"0\" offset=\"0\" wrapCount=\"1\" lang=\"PHP\" encoding=\"-1\" userReadOnly=\"no\" "
                    "filename=\"C:\\kit\\work\\site\\page" +
                    n + ".php\" backupFilePath=\"\" originalFileLastModifTimestamp=\"" + std::to_string(s.next()) +
                    "\" mapFirstVisibleDisplayLine=\"-1\" />");
        line(2, "</mainView>");
        line(2, "<subView activeIndex=\"0\" />");
        line(1, "</Session>");
        line(1, "<ProjectPanels>");
        line(2, "<ProjectPanel id=\"0\" workSpaceFile=\"\" />");
        line(1, "</ProjectPanels>");
        line(1, "<Notes>");
        line(2, std::string("Reminder ") + n + ": keep the " + pick(s, {"php", "css", "docs"}) +
                    " folder &amp; the backups in sync; the editor rewrites this file on exit.");
        line(1, "</Notes>");
    }
    line(0, "</NotepadPlus>");
    return out;
}

// CR LF lines of ordinary text, at least `target` bytes; `lines` receives
// their number.
inline std::string make_lines(std::size_t target, std::size_t* lines, std::uint32_t seed = 11) {
    sequence s(seed);
    std::string out;
    out.reserve(target + 256);
    std::size_t count = 0;
    while (out.size() < target) {
        std::size_t words = 2 + s.below(14);
        for (std::size_t i = 0; i < words; ++i) {
            if (i) out += ' ';
            out += pick(s, {"the", "launcher", "keeps", "folder", "work", "config", "editor", "state", "portable",
                            "kit", "line", "of", "text", "with", "some", "words"});
        }
        out += "\r\n";
        ++count;
    }
    *lines = count;
    return out;
}

} // namespace quillgate::bench
