// Robustness: allocation and I/O failure at every point of load, edit and
// save; documents too deep or too wide for recursion; round trips of
// generated documents.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/core/heap.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

const char* const config =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<!DOCTYPE NotepadPlus [<!ENTITY e \"x\">]>\r\n<NotepadPlus>\r\n"
    "    <GUIConfigs>\r\n        <GUIConfig name=\"caf\xC3\xA9\" v='&e;'>long text &amp; more</GUIConfig>\r\n"
    "    </GUIConfigs>\r\n    <!-- c -->\r\n    <FileBrowser>\r\n        <root foldername=\"C:\\old\" />\r\n"
    "    </FileBrowser>\r\n</NotepadPlus>\r\n";

// Load, edit and save as the launcher does, with whatever faults are armed;
// true when every step succeeded.
bool launcher_steps(const std::string& target) {
    if (xml_load(0, target.c_str(), 24) == 0 || xml_status(0) != 0) return false;
    xml_node* root = xml_node_from_path(xml_root_element(0), "/NotepadPlus/FileBrowser/root");
    if (root == nullptr) return false;
    xml_set_attribute(root, "foldername", "D:\\kit\\work");
    // A failed edit says nothing; only the node shows it.
    if (std::strcmp(root->attributes[1], "D:\\kit\\work") != 0) return false;
    return xml_save(0, target.c_str()) == 1;
}

class Robustness : public XmlTest {
protected:
    // Runs the launcher's steps with a fault armed at every point in turn
    // until none fires: the file is untouched or fully replaced, no temporary
    // is left, a load cut short reports `fault_status`. Returns the count.
    template <typename Arm, typename Fired>
    long fail_everywhere(const std::string& target, const std::string& expected, int fault_status, Arm arm,
                         Fired fired) {
        heap_counts start = heap_live();
        long n = 0;
        for (;; ++n) {
            write_file(target, config);
            arm(n);
            bool done = launcher_steps(target);
            bool faulted = fired();
            arm(-1);
            std::string now = read_file(target);
            EXPECT_TRUE(now == config || now == expected) << "n=" << n;
            EXPECT_EQ(done, now == expected) << "n=" << n;
            EXPECT_EQ(listing(), std::vector<std::string>{"config.xml"}) << "n=" << n;
            if (xml_document_get(0) != nullptr && xml_status(0) != 0) {
                EXPECT_EQ(xml_status(0), fault_status) << "n=" << n;
            }
            xml_free(0);
            EXPECT_EQ(heap_live().blocks, start.blocks) << "n=" << n;
            if (!faulted) return n;
        }
    }
};

TEST_F(Robustness, AllocationAndIoFailureAtEveryPoint) {
    std::string target = path("config.xml");
    write_file(target, config);
    ASSERT_TRUE(launcher_steps(target));
    const std::string expected = read_file(target);
    ASSERT_NE(expected, config);
    xml_free(0);
    long n = fail_everywhere(
        target, expected, XML_STATUS_OUT_OF_MEMORY, [](long at) { heap_fail_after(at); },
        [] { return heap_fault_fired(); });
    EXPECT_GT(n, 20);
    std::printf("allocation failure points of load, edit and save: %ld\n", n);
    for (bool persistent : {false, true}) {
        n = fail_everywhere(
            target, expected, XML_STATUS_READ_ERROR, [&](long at) { io_fail_after(at, persistent); },
            [] { return io_fault_fired(); });
        EXPECT_GE(n, 3); // a read, a write, the flush and the move at least
        std::printf("I/O failure points of load, edit and save (%s): %ld\n", persistent ? "persistent" : "once", n);
    }
}

TEST_F(Robustness, MillionLevelsAndMillionSiblings) {
    const std::size_t million = 1000000;
    std::string deep;
    for (std::size_t i = 0; i < million; ++i) deep += "<a>";
    for (std::size_t i = 0; i < million; ++i) deep += "</a>";
    std::string wide = "<r>\n";
    for (std::size_t i = 0; i < million; ++i) wide += " <b/>\n";
    wide += "</r>";
    for (const std::string* input : {&deep, &wide}) {
        write_file(file("in.xml"), *input);
        ASSERT_NE(xml_load(0, path("in.xml").c_str(), 24), 0);
        ASSERT_EQ(xml_status(0), 0);
        ASSERT_EQ(xml_save(0, path("out.xml").c_str(), XML_SAVE_NO_DECLARATION), 1);
        std::string expected = *input;
        if (input == &deep) expected.replace(million * 3 - 3, 7, "<a/>");
        EXPECT_TRUE(read_file(file("out.xml")) == expected);
        xml_free(0);
    }
}

// A small deterministic generator of documents with every kind of node and
// the characters that need escaping.
struct generator {
    std::uint32_t state;

    std::uint32_t pick(std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
    template <std::size_t N>
    std::string one_of(const char* const (&choices)[N]) {
        return choices[pick(N)];
    }
    std::string line() { return one_of({"", "\n", "\r\n", "  ", "\n\t"}); }
    std::string text() {
        std::string out;
        for (std::uint32_t i = pick(4); i > 0; --i)
            out += one_of({"a", " ", "&amp;", "&lt;", "&gt;", "'", "\"", "\xC3\xA9", "&#10;", "\n", "x y"});
        return out;
    }
    void content(std::string& out, int depth) {
        for (std::uint32_t i = pick(5); i > 0; --i) {
            out += text();
            switch (pick(6)) {
            case 0: out += one_of({"<!---->", "<!--c-->"}); break;
            case 1: out += one_of({"<?pi ?>", "<?pi d?>"}); break;
            case 2: out += "<![CDATA[<&>]]>"; break;
            default: {
                std::string name = "e" + std::to_string(pick(3));
                out += "<" + name;
                for (std::uint32_t a = pick(3); a > 0; --a)
                    out += " a" + std::to_string(a) + "=\"" + one_of({"", "v&quot;'&#13;&#10;&lt;"}) + "\"";
                if (depth < 4 && pick(3) != 0) {
                    out += ">";
                    content(out, depth + 1);
                    out += "</" + name + ">";
                } else {
                    out += pick(2) != 0 ? "/>" : "></" + name + ">";
                }
            }
            }
        }
        out += text();
    }
    std::string document() {
        std::string out = one_of({"", "<?xml version=\"1.0\"?>"});
        out += line();
        if (pick(3) == 0) out += "<!--p-->" + line();
        out += "<root>";
        content(out, 0);
        return out + "</root>" + line();
    }
};

TEST_F(Robustness, GeneratedDocumentsSurviveRoundTrips) {
    generator make{12345};
    for (int round = 0; round < 150; ++round) {
        std::string input = make.document();
        for (int encoding : {24, 2, 25, -1}) {
            ASSERT_NE(load_memory(1, input, encoding == 25 ? -1 : encoding), 0);
            ASSERT_EQ(xml_status(1), 0) << input;
            if (encoding == 25) xml_document_get(1)->encoding = 25;
            std::string tree = dump(xml_document_get(1)->document_node);
            std::string first = saved(1);
            ASSERT_NE(load_memory(1, first, encoding), 0);
            ASSERT_EQ(xml_status(1), 0) << first;
            EXPECT_EQ(dump(xml_document_get(1)->document_node), tree) << input;
            EXPECT_TRUE(saved(1) == first) << input;
        }
    }
}

} // namespace
} // namespace quillgate::xmltest
