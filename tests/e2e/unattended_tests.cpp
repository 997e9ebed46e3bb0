// Unattended runs of the real program: exit statuses, steps that cannot be taken, causes on
// standard error, the host's arguments, and the log of what an install copied.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/e2e/run_program.h"

namespace {

using e2e::CopySampleMedium;
using e2e::LinesStartingWith;
using e2e::Scratch;
namespace fs = std::filesystem;

void WriteFile(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

fs::path SetApp(const Scratch& s) { return s.Device() / "ROMDisk2/PROGRAM/SETAPP"; }

bool NothingInstalled(const Scratch& s)
{
    return fs::is_empty(SetApp(s)) && fs::is_empty(s.Device() / "ROMDisk/PROGRAM/TAV");
}

struct Row {
    const char* name;
    std::function<void(const Scratch&)> prepare;  // beyond the sample medium
    std::string script;                           // "" runs without one
    int status;
    std::string err;                   // a line that standard error holds ("" for none expected)
    std::vector<std::string> args = {};
    std::function<bool(const Scratch&)> after = nullptr;  // what the device holds afterwards
};

TEST(UnattendedE2E, ExitStatusesAndCauses)
{
    const auto none = [](const Scratch&) {};
    const auto noSetApp = [](const Scratch& s) { fs::remove_all(SetApp(s)); };
    const auto noCatalogue = [](const Scratch& s) { fs::remove(s.Medium() / "SETUP.INI"); };
    const std::string failedCopy = "cannot copy into \\ROMDisk2\\PROGRAM\\SETAPP (";
    const Row rows[] = {
        {"completed", none, "click 1001\nok\nclose\n", 0, ""},
        {"no install", none, "close\n", 0, ""},
        {"failed copy", noSetApp, "click 1001\nok\nclose\n", 3, failedCopy},
        {"failed copy, the rest left to the absent user", noSetApp, "click 1001\n", 3, failedCopy},
        {"a disabled control ignores a click", none, "click 1001\nclick 1001\nclose\nok\nclose\n", 0, ""},
        {"select out of range", none, "select 7\nclick 1001\n", 2,
         "script.txt:1: select 7: no list box shows that entry; the script stops here", {}, NothingInstalled},
        {"click on a control not shown", none, "click 1234\nclick 1001\n", 2,
         "script.txt:1: click 1234: no control with that ID is shown", {}, NothingInstalled},
        {"ok without a message box", none, "ok\nclick 1001\n", 2, "script.txt:1: ok: no message box is shown", {},
         NothingInstalled},
        {"a step not taken after start-up failed", noCatalogue, "close\n", 1,
         "script.txt:1: close: no dialog with a caption OK button is shown"},
        {"select by key", none, "select key=2\nclick 1001\nok\nclose\n", 0, "", {},
         [](const Scratch& s) {  // the second package has no Voice folder
             return fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt") &&
                    !fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Voice");
         }},
        {"select by name", none, "select name=\u65E5\u672C\u8A9E\nclick 1001\nok\n", 0, "", {},
         [](const Scratch& s) { return !NothingInstalled(s); }},
        {"no such key", none, "select key=9\nclick 1001\n", 2, "script.txt:1: select key=9: no entry has that key", {},
         NothingInstalled},
        {"no such name", none, "select name=Klingon\nclick 1001\n", 2,
         "script.txt:1: select name=Klingon: no entry has that name", {}, NothingInstalled},
        {"malformed script", none, "fly\n", 2, "WCE_SCRIPT: "},
        {"missing catalogue", noCatalogue, "ok\nok\n", 1, ""},
        {"invalid catalogue",
         [](const Scratch& s) { WriteFile(s.Medium() / "SETUP.INI", "[PRODUCT]\n1=English\n"); }, "", 1,
         "SETUP.INI:1: the line ends in LF alone where CR LF is needed, so the reading stops here"},
        {"a key that leaves the medium is not listed",
         [](const Scratch& s) {
             WriteFile(s.Medium() / "SETUP.INI", "[PRODUCT]\r\n1=English\r\n\\..\\..\\Private=Mine\r\n");
             WriteFile(s.Device() / "Private/SETAPP/secret.txt", "mine");
         },
         "select name=Mine\nclick 1001\n", 2, "script.txt:1: select name=Mine: no entry has that name", {},
         NothingInstalled},
        {"UTF-8 catalogue read as 932",
         [](const Scratch& s) {
             WriteFile(s.Medium() / "SETUP.INI", "[PRODUCT]\r\n1=\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n");
         },
         "close\n", 0, "SETUP.INI:2: bytes that are not text in code page 932; they read as UTF-8: set "
                       "WCE_CODEPAGE=65001"},
        {"headless without a script", none, "", 0, "headless without a script (WCE_SCRIPT)"},
        {"--help", none, "", 0, "", {"--help"}},
        {"--version", none, "", 0, "", {"--version"}},
        {"another argument", none, "click 1001\n", 2, "SETUP: unexpected argument \"--dry-run\"", {"--dry-run"},
         NothingInstalled},
        {"an argument after --help", none, "", 2, "SETUP: unexpected argument \"x\"", {"--help", "x"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch s;
        CopySampleMedium(s);
        row.prepare(s);
        const e2e::RunResult r = s.Run(row.script, {}, row.args);
        EXPECT_EQ(r.exitStatus, row.status) << r.out << r.err;
        if (!row.err.empty()) {
            EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        }
        EXPECT_EQ(r.err.find("progress:"), std::string::npos) << "a short install shows no progress: " << r.err;
        if (row.after) {
            EXPECT_TRUE(row.after(s));
        }
    }
}

TEST(UnattendedE2E, HelpAndVersionAnswerOnStandardOutput)
{
    Scratch s;
    const e2e::RunResult help = s.Run("", {}, {"--help"});
    EXPECT_NE(help.out.find("Usage: SETUP"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("man SETUP"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("WCE_LOG"), std::string::npos) << help.out;
    EXPECT_EQ(s.Run("", {}, {"--version"}).out, "SETUP Ver 1.02\n");
}

// A device path read back from the log: %XX is the byte XX.
std::string Unescaped(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size()) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The host path under the device of a logged device path.
fs::path HostOf(const Scratch& s, std::string devicePath)
{
    for (char& c : devicePath)
        if (c == '\\')
            c = '/';
    return s.Device() / devicePath.substr(1);
}

TEST(UnattendedE2E, LogListsEveryFileAndFolderCopiedThenTheOutcome)
{
    Scratch s;
    CopySampleMedium(s);
    const fs::path pkg = s.Medium() / "PRODUCT1";
    WriteFile(pkg / "SETAPP/new/deeper/100%.txt", "percent");
    WriteFile(pkg / "TAV/line\nbreak.txt", "two\nlines");
    const fs::path log = s.Base() / "install.log";
    const e2e::RunResult r = s.Run("click 1001\nok\nclose\n", {{"WCE_LOG", log.string()}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;

    std::set<fs::path> logged, loggedFolders;
    std::uintmax_t bytes = 0;
    const std::vector<std::string> lines = LinesStartingWith(e2e::ReadAll(log), "");
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::istringstream in(lines[i]);
        std::string kind, size;
        in >> kind;
        if (kind == "file")
            in >> size;
        std::string path;
        std::getline(in >> std::ws, path);
        if (kind == "skipped") {
            EXPECT_EQ(path, "\\Storage Card\\PRODUCT1\\TAV\\.svn");
            continue;
        }
        const fs::path host = HostOf(s, Unescaped(path));
        if (kind == "file") {
            EXPECT_EQ(fs::file_size(host), std::stoull(size));
            bytes += std::stoull(size);
            logged.insert(host);
        } else {
            ASSERT_EQ(kind, "folder");
            EXPECT_TRUE(fs::is_directory(host));
            loggedFolders.insert(host);
        }
    }
    std::set<fs::path> files, folders;
    for (const auto& e : fs::recursive_directory_iterator(s.Device()))
        (e.is_directory() ? folders : files).insert(e.path());
    EXPECT_EQ(logged, files);
    EXPECT_EQ(loggedFolders, (std::set<fs::path>{SetApp(s) / "Help", SetApp(s) / "new", SetApp(s) / "new/deeper",
                                                  s.Device() / "ROMDisk/PROGRAM/TAV/Voice"}));
    EXPECT_EQ(lines.back(), "completed files=" + std::to_string(files.size()) + " folders=" +
                                std::to_string(loggedFolders.size()) + " bytes=" + std::to_string(bytes));
}

}  // namespace
