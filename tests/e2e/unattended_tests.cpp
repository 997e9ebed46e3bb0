// Unattended runs of the real program: exit statuses, steps that cannot be taken, causes on
// standard error, the host's arguments, and the log of what an install copied.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "tests/e2e/run_program.h"

namespace {

using e2e::CopySampleMedium;
using e2e::LinesStartingWith;
using e2e::Scratch;
namespace fs = std::filesystem;

void WriteFile(const fs::path& p, const std::string& bytes = "x") {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

fs::path SetApp(const Scratch& s) {
    return s.Device() / "ROMDisk2/PROGRAM/SETAPP";
}

bool NothingInstalled(const Scratch& s) {
    return fs::is_empty(SetApp(s)) && fs::is_empty(s.Device() / "ROMDisk/PROGRAM/TAV");
}

// {base}, {device} and {medium} stand for the scratch folders.
std::string Expand(std::string text, const Scratch& s) {
    const std::pair<std::string, std::string> names[] = {{"{base}", s.Base().string()},
                                                         {"{device}", s.Device().string()},
                                                         {"{medium}", s.Medium().string()}};
    for (const auto& [name, value] : names)
        for (auto at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

struct Row {
    const char* name;
    std::function<void(const Scratch&)> prepare;  // beyond the sample medium
    std::string script;                           // "" runs without one
    int status;
    std::vector<std::string> err;  // lines, or parts of lines, that standard error holds
    std::vector<std::string> args = {};
    std::function<bool(const Scratch&)> after = nullptr;  // what the device holds afterwards
    std::string out = "";                                 // what standard output holds
    std::map<std::string, std::string> env = {};          // settings beside the scratch folders'
};

TEST(UnattendedE2E, ExitStatusesAndCauses) {
    const auto none = [](const Scratch&) {};
    const auto noSetApp = [](const Scratch& s) { fs::remove_all(SetApp(s)); };
    const auto noCatalogue = [](const Scratch& s) { fs::remove(s.Medium() / "SETUP.INI"); };
    const auto catalogue = [](std::string bytes) {
        return [bytes](const Scratch& s) { WriteFile(s.Medium() / "SETUP.INI", bytes); };
    };
    const auto installed = [](const Scratch& s) { return !NothingInstalled(s); };
    const std::string install = "click 1001\nok\nclose\n";
    const std::string failedCopy =
        "cannot copy into \\ROMDisk2\\PROGRAM\\SETAPP ({device}/ROMDisk2/PROGRAM/SETAPP): "
        "the device has no such folder, and a fresh device has it";
    const std::string unset = Scratch::kUnset;
    const Row rows[] = {
        {"completed",
         none,
         install,
         0,
         {"installing \"English\" (key \"1\") from {medium} onto {device}\n",
          "skipped \\Storage Card\\PRODUCT1\\TAV\\.svn ({medium}/PRODUCT1/TAV/.svn): a folder "
          "whose name begins with "
          "\".\" is not installed"},
         {},
         installed},
        {"no install", none, "close\n", 0, {}},
        {"failed copy", noSetApp, install, 3, {failedCopy}},
        {"failed copy, the rest left to the absent user",
         noSetApp,
         "click 1001\n",
         3,
         {failedCopy}},
        {"a failed call names the host path",
         [](const Scratch& s) { fs::create_directories(SetApp(s) / "Desktop.ini"); },
         install,
         3,
         {"cannot copy \\ROMDisk2\\PROGRAM\\SETAPP\\Desktop.ini "
          "({device}/ROMDisk2/PROGRAM/SETAPP/Desktop.ini): "}},
        {"a program folder that cannot be read keeps its own cause, not a missing folder's",
         [](const Scratch& s) {
             fs::remove_all(SetApp(s));
             fs::create_directory_symlink("SETAPP", SetApp(s));
         },
         install,
         3,
         {"cannot copy \\ROMDisk2\\PROGRAM\\SETAPP\\Desktop.ini "
          "({device}/ROMDisk2/PROGRAM/SETAPP/Desktop.ini): "
          "it is a link that cannot be followed"}},
        {"a disabled control ignores a click",
         none,
         "click 1001\nclick 1001\nclose\nok\nclose\n",
         0,
         {}},
        {"select out of range",
         none,
         "select 7\nclick 1001\n",
         2,
         {"script.txt:1: select 7: no list box shows that entry; the script stops here"},
         {},
         NothingInstalled},
        {"click on a control not shown",
         none,
         "click 1234\nclick 1001\n",
         2,
         {"script.txt:1: click 1234: no control with that ID is shown"},
         {},
         NothingInstalled},
        {"ok without a message box",
         none,
         "ok\nclick 1001\n",
         2,
         {"script.txt:1: ok: no message box is shown"},
         {},
         NothingInstalled},
        {"a step not taken after start-up failed",
         noCatalogue,
         "close\n",
         1,
         {"script.txt:1: close: no dialog with a caption OK button is shown"}},
        {"select by key",
         none,
         "select key=2\nclick 1001\nok\nclose\n",
         0,
         {},
         {},
         [](const Scratch& s) {  // the second package has no Voice folder
             return fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt") &&
                    !fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Voice");
         }},
        {"select by name",
         none,
         "select name=\u65E5\u672C\u8A9E\nclick 1001\nok\n",
         0,
         {},
         {},
         installed},
        {"no such key",
         none,
         "select key=9\nclick 1001\n",
         2,
         {"script.txt:1: select key=9: no entry has that key (the keys listed: \"1\", \"2\", "
          "\"3\")"},
         {},
         NothingInstalled},
        {"no such name",
         none,
         "select name=Klingon\nclick 1001\n",
         2,
         {"script.txt:1: select name=Klingon: no entry has that name"},
         {},
         NothingInstalled},
        {"malformed script", none, "fly\n", 2, {"WCE_SCRIPT: "}},
        {"missing catalogue", noCatalogue, "ok\nok\n", 1, {}},
        {"invalid catalogue",
         catalogue("[PRODUCT]\n1=English\n"),
         "",
         1,
         {"SETUP.INI:1: the line ends in LF alone where CR LF is needed, so the reading stops "
          "here"}},
        {"a key that leaves the medium is not listed",
         [](const Scratch& s) {
             WriteFile(s.Medium() / "SETUP.INI",
                       "[PRODUCT]\r\n1=English\r\n\\..\\..\\Private=Mine\r\n");
             WriteFile(s.Device() / "Private/SETAPP/secret.txt", "mine");
         },
         "select name=Mine\nclick 1001\n",
         2,
         {"script.txt:1: select name=Mine: no entry has that name"},
         {},
         NothingInstalled},
        {"UTF-8 catalogue read as 932",
         catalogue("[PRODUCT]\r\n1=\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n"),
         "close\n",
         0,
         {"SETUP.INI:2: bytes that are not text in code page 932; they read as UTF-8: set "
          "WCE_CODEPAGE=65001"}},
        {"headless without a script", none, "", 0, {"headless without a script (WCE_SCRIPT)"}},
        {"--help", none, "", 0, {}, {"--help"}},
        {"--version", none, "", 0, {}, {"--version"}},
        {"another argument",
         none,
         "click 1001\n",
         2,
         {"SETUP: unexpected argument \"--dry-run\""},
         {"--dry-run"},
         NothingInstalled},
        {"an argument after --help",
         none,
         "",
         2,
         {"SETUP: unexpected argument \"x\""},
         {"--help", "x"}},

        // Where it installs, and what it leaves out.
        {"a script installs only onto a device named",
         none,
         install,
         2,
         {"a scripted run (WCE_SCRIPT) needs the device named"},
         {},
         [](const Scratch& s) { return !fs::exists(s.Base() / "data"); },
         "",
         {{"WCE_ROOT", unset}, {"XDG_DATA_HOME", "{base}/data"}}},
        {"a misspelt setting",
         none,
         "close\n",
         2,
         {"SETUP: WCE_ROOTT is not a setting; did you mean WCE_ROOT?"},
         {},
         nullptr,
         "",
         {{"WCE_ROOTT", "{base}"}}},
        {"a missing package folder",
         [](const Scratch& s) { fs::remove_all(s.Medium() / "PRODUCT3"); },
         "select 2\nclick 1001\nok\nclose\n",
         0,
         {"warning: PRODUCT3 is missing: there is no \\Storage Card\\PRODUCT3 ({medium}/PRODUCT3), "
          "so the package "
          "counts as empty"},
         {},
         NothingInstalled},
        {"names that differ only in case",
         [](const Scratch& s) { WriteFile(s.Medium() / "PRODUCT1/TAV/VOICE/b.txt"); },
         install,
         3,
         {"cannot copy \\Storage Card\\PRODUCT1\\TAV\\", "its name differs only in case from \""},
         {},
         NothingInstalled},
        {"the same name in sibling folders is no clash",
         [](const Scratch& s) {
             for (const char* f : {"A/x.txt", "B/.git/x", "B/X.TXT"})
                 WriteFile(s.Medium() / "PRODUCT1/SETAPP" / f);
         },
         install,
         0,
         {},
         {},
         [](const Scratch& s) { return fs::exists(SetApp(s) / "B/X.TXT"); }},
        {"an over-long path",
         [](const Scratch& s) {
             WriteFile(s.Medium() / "PRODUCT1/SETAPP" / std::string(120, 'a') /
                       std::string(120, 'b') / "c.txt");
         },
         install,
         3,
         {"cannot copy \\Storage Card\\PRODUCT1\\SETAPP\\aaa", "({medium}/PRODUCT1/SETAPP/aaa",
          "): the path is 271 characters long, and the device's paths hold at most 259 (260 with "
          "the terminator)"}},
        // Names as the dump and the warnings show them: one item a line, no control character.
        {"a LF inside a catalogue line",
         catalogue("[PRODUCT]\r\n1=English\n2=Deutsch\r\n"),
         "dump\nclose\n",
         0,
         {"SETUP.INI:2: a LF without CR before it does not end the line"},
         {},
         nullptr,
         "  item 0 \"English\\n2=Deutsch\"\n"},
        {"an escape sequence in a name",
         catalogue("[PRODUCT]\r\n1=\x1B]2;owned\a\r\n"),
         "dump\nclose\n",
         0,
         {},
         {},
         nullptr,
         "  item 0 \"\\x1b]2;owned\\x07\"\n"},

        // The command line.
        {"--list",
         none,
         "",
         0,
         {},
         {"--list"},
         NothingInstalled,
         "1\tEnglish\n2\tDeutsch\n3\t\u65E5\u672C\u8A9E\n"},
        {"--list without a catalogue",
         noCatalogue,
         "",
         1,
         {"SETUP.INI: not in {medium}"},
         {"--list"}},
        {"--install",
         none,
         "",
         0,
         {"installing \"Deutsch\" (key \"2\")"},
         {"--install", "2"},
         [](const Scratch& s) {
             const std::string log = e2e::ReadAll(s.Base() / "install.log");
             return fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt") &&
                    log.find("\ncompleted files=3 ") != std::string::npos;
         },
         "message: SETUP: Installation has been completed.\n",
         {{"WCE_LOG", "{base}/install.log"}}},
        {"--install, failing", noSetApp, "", 3, {failedCopy}, {"--install", "1"}},
        {"--install of an unknown key",
         none,
         "",
         2,
         {"SETUP: --install \"9\": no entry has that key (the keys listed: \"1\", \"2\", \"3\")\n"},
         {"--install", "9"},
         NothingInstalled},
        {"--root and --medium",
         none,
         "",
         0,
         {},
         {"--root", "{device}", "--medium", "{medium}", "--install", "1"},
         installed,
         "",
         {{"WCE_ROOT", unset}, {"WCE_MEDIUM", unset}}},
        {"--root naming no folder",
         none,
         "",
         2,
         {"SETUP: --root \"{base}/none\" names no existing folder"},
         {"--root", "{base}/none", "--list"}},
        {"--install beside a script",
         none,
         "close\n",
         2,
         {"SETUP: --install \"1\" and WCE_SCRIPT both say what to do"},
         {"--install", "1"},
         NothingInstalled},
        {"a font file that cannot be used",
         none,
         "click 1001\n",
         2,
         {"SETUP: the setting WCE_FONT_FILE={base}/none.ttf cannot be used"},
         {},
         NothingInstalled,
         "",
         {{"WCE_FONT_FILE", "{base}/none.ttf"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch s;
        CopySampleMedium(s);
        row.prepare(s);
        std::map<std::string, std::string> env;
        for (const auto& [k, v] : row.env) env[k] = Expand(v, s);
        std::vector<std::string> args;
        for (const std::string& a : row.args) args.push_back(Expand(a, s));
        const e2e::RunResult r = s.Run(row.script, env, args);
        EXPECT_EQ(r.exitStatus, row.status) << r.out << r.err;
        for (const std::string& part : row.err)
            EXPECT_NE(r.err.find(Expand(part, s)), std::string::npos) << Expand(part, s) << "\nin\n"
                                                                      << r.err;
        EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
        EXPECT_EQ((r.out + r.err).find('\x1B'), std::string::npos)
            << "nothing reaches the terminal raw";
        EXPECT_EQ(r.err.find("progress:"), std::string::npos)
            << "a short install shows no progress: " << r.err;
        if (row.after) {
            EXPECT_TRUE(row.after(s));
        }
    }
}

TEST(UnattendedE2E, HelpAndVersionAnswerOnStandardOutput) {
    Scratch s;
    const e2e::RunResult help = s.Run("", {}, {"--help"});
    EXPECT_NE(help.out.find("Usage: SETUP"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("man SETUP"), std::string::npos) << help.out;
    for (const char* word :
         {"WCE_LOG", "WCE_VERIFY", "WCE_FONT_FILE", "--install KEY", "--list", "--root DIR"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word << " in " << help.out;
    EXPECT_EQ(s.Run("", {}, {"--version"}).out, "SETUP Ver 1.02\n");
}

// A device path read back from the log: %XX is the byte XX.
std::string Unescaped(const std::string& field) {
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
fs::path HostOf(const Scratch& s, std::string devicePath) {
    for (char& c : devicePath)
        if (c == '\\') c = '/';
    return s.Device() / devicePath.substr(1);
}

TEST(UnattendedE2E, LogListsEveryFileAndFolderCopiedThenTheOutcome) {
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
    ASSERT_EQ(lines.front().rfind("install ", 0), 0u) << lines.front();
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::istringstream in(lines[i]);
        std::string kind, size;
        in >> kind;
        if (kind == "file") in >> size;
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
    EXPECT_EQ(loggedFolders,
              (std::set<fs::path>{SetApp(s) / "Help", SetApp(s) / "new", SetApp(s) / "new/deeper",
                                  s.Device() / "ROMDisk/PROGRAM/TAV/Voice"}));
    EXPECT_EQ(lines.back(), "completed files=" + std::to_string(files.size()) +
                                " same=0 folders=" + std::to_string(loggedFolders.size()) +
                                " bytes=" + std::to_string(bytes) +
                                " written=" + std::to_string(bytes));
}

}  // namespace
