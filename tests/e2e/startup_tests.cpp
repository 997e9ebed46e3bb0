// Start-up of the real program, headless: the started dialog and every stop path.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/run_program.h"

namespace {

using e2e::CopySampleMedium;
using e2e::LinesStartingWith;
using e2e::Scratch;
namespace fs = std::filesystem;

std::vector<std::string> DeviceFiles(const Scratch& s) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(s.Device()))
        if (!e.is_directory()) files.push_back(e.path().string());
    return files;
}

TEST(StartupE2E, StartedDialogShowsSampleCatalogue) {
    Scratch s;
    CopySampleMedium(s);
    const e2e::RunResult r = s.Run("dump\n");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(LinesStartingWith(r.out, "message:").size(), 0u) << r.out;

    const std::vector<std::string> dialog = LinesStartingWith(r.out, "dialog ");
    ASSERT_EQ(dialog.size(), 1u) << r.out;
    EXPECT_TRUE(std::regex_match(
        dialog[0],
        std::regex(
            R"(dialog "Installation of Language Files" outer=0,0,320,240 client=\d+,\d+ enabled=1)")))
        << dialog[0];

    // Sibling order of the template; progress controls hidden, version set.
    const char* expected[] = {
        R"(control 1003 listbox rect=[-\d,]+ visible=1 enabled=1 text="" items=3 sel=0)",
        R"(control 1002 static rect=[-\d,]+ visible=0 enabled=1 text="Copying\.\.\.")",
        R"(control 1005 static rect=[-\d,]+ visible=0 enabled=1 text=".+")",
        R"(control 1007 static rect=[-\d,]+ visible=0 enabled=1 text="5 / 20")",
        R"(control 1008 static rect=[-\d,]+ visible=0 enabled=1 text="File Name:")",
        R"(control 1013 static rect=[-\d,]+ visible=1 enabled=1 text="1\.02")",
        R"(control 1001 button rect=[-\d,]+ visible=1 enabled=1 text="Install")",
    };
    const std::vector<std::string> controls = LinesStartingWith(r.out, "control ");
    ASSERT_EQ(controls.size(), std::size(expected)) << r.out;
    for (std::size_t i = 0; i < controls.size(); ++i)
        EXPECT_TRUE(std::regex_match(controls[i], std::regex(expected[i]))) << controls[i];

    const std::vector<std::string> items = LinesStartingWith(r.out, "  item ");
    EXPECT_EQ(items, (std::vector<std::string>{R"(  item 0 "English")", R"(  item 1 "Deutsch")",
                                               "  item 2 \"\u65E5\u672C\u8A9E\""}));
}

TEST(StartupE2E, EveryStopShowsItsMessageThenStopsWithStatus1) {
    struct Case {
        const char* name;
        void (*prepare)(const Scratch&);
        const char* message;
        const char* cause = "";  // after the medium's folder, on standard error
    };
    const Case cases[] = {
        {"missing", [](const Scratch&) {}, "Not found SETUP.INI"},
        {"unopenable", [](const Scratch& s) { fs::create_directory(s.Medium() / "SETUP.INI"); },
         "Failed in opening SETUP.INI", "/SETUP.INI: it is a folder\n"},
        {"empty", [](const Scratch& s) { std::ofstream(s.Medium() / "SETUP.INI"); },
         "Invalid SETUP.INI"},
        {"no product section",
         [](const Scratch& s) {
             std::ofstream(s.Medium() / "SETUP.INI") << "[OTHER]\r\n1=English\r\n";
         },
         "Invalid SETUP.INI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch s;
        c.prepare(s);
        const e2e::RunResult r = s.Run("");
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_EQ(LinesStartingWith(r.out, "message:"),
                  (std::vector<std::string>{std::string("message: SETUP: ") + c.message,
                                            "message: SETUP: Installation is stopped."}));
        EXPECT_TRUE(DeviceFiles(s).empty());
        if (*c.cause != '\0') {
            const std::string cause = "SETUP.INI: cannot open " + s.Medium().string() + c.cause;
            EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
        }
    }
}

TEST(StartupE2E, ClosingInstallsNothing) {
    const char* scripts[] = {"close\n", "key Escape\n", "select 1\nkey Enter\n", ""};
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        Scratch s;
        CopySampleMedium(s);
        const e2e::RunResult r = s.Run(script);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(LinesStartingWith(r.out, "message:").empty()) << r.out;
        EXPECT_TRUE(DeviceFiles(s).empty());
    }
}

}  // namespace
