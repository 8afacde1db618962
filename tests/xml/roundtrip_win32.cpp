// A target that another program holds open for a moment is waited for; one
// held for longer stays as it was, and no temporary file is left behind.
#include <windows.h>

#include "runtime/programs/programs.h"
#include "tests/support/paths.h"
#include "tests/xml/xml_support.h"

namespace quillgate::xmltest {
namespace {

using HeldTarget = XmlTest;

TEST_F(HeldTarget, ShortHoldIsWaitedForLongHoldFails) {
    ASSERT_NE(load_memory(0, "<a/>", 24), 0);
    const std::string target = path("config.xml");
    for (auto [hold_ms, result] : {std::pair{300, 1}, {3000, 0}}) {
        write_file(target, "old");
        std::filesystem::remove(target + ".held");
        std::string parameters = "\"" + target + "\" " + std::to_string(hold_ms);
        auto* holder = reinterpret_cast<program_object*>(
            program_run(testing::standin_path("holder").c_str(), parameters.c_str(), "", RUN_KEEP_OBJECT));
        ASSERT_NE(holder, nullptr);
        for (int i = 0; i < 1000 && !std::filesystem::exists(target + ".held"); ++i) Sleep(10);
        EXPECT_EQ(xml_save(0, target.c_str()), result) << hold_ms;
        EXPECT_EQ(read_file(target), result == 1 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>" : "old");
        EXPECT_EQ(program_wait(holder, 20000), 0);
        program_close(holder);
        EXPECT_EQ(listing(), (std::vector<std::string>{"config.xml", "config.xml.held"}));
    }
}

} // namespace
} // namespace quillgate::xmltest
