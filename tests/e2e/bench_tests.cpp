// The technician's bench through the real program: which device an unattended run may write,
// what is refused before anything is copied, the log of every install, the check of a card,
// interruptions, and keys as the catalogue gives them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <csignal>
#include <functional>
#include <regex>
#include <thread>

#include "tests/e2e/run_program.h"

namespace {

using e2e::CopySampleMedium;
using e2e::LinesStartingWith;
using e2e::Scratch;
namespace fs = std::filesystem;

const std::string kUnset = Scratch::kUnset;

void WriteFile(const fs::path& p, const std::string& bytes = "x") {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

bool NothingInstalled(const Scratch& s) {
    return fs::is_empty(s.Device() / "ROMDisk2/PROGRAM/SETAPP") &&
           fs::is_empty(s.Device() / "ROMDisk/PROGRAM/TAV");
}
bool Installed(const Scratch& s) {
    return fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt");
}

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
    std::function<void(const Scratch&)> prepare;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int status;
    std::vector<std::string> err;  // parts of standard error
    std::function<bool(const Scratch&)> after = nullptr;
    std::string out = "";  // a part of standard output
    std::string script = "";
};

void RunRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scratch s;
        CopySampleMedium(s);
        if (row.prepare) row.prepare(s);
        std::map<std::string, std::string> env;
        for (const auto& [k, v] : row.env) env[k] = Expand(v, s);
        std::vector<std::string> args;
        for (const std::string& a : row.args) args.push_back(Expand(a, s));
        const e2e::RunResult r = s.Run(row.script, env, args);
        EXPECT_EQ(r.exitStatus, row.status) << r.out << r.err;
        for (const std::string& part : row.err)
            EXPECT_NE(r.err.find(Expand(part, s)), std::string::npos) << Expand(part, s) << "\nin\n"
                                                                      << r.err;
        EXPECT_NE(r.out.find(Expand(row.out, s)), std::string::npos) << r.out;
        if (row.after) EXPECT_TRUE(row.after(s)) << r.err;
    }
}

const auto kLinkDevice = [](const Scratch& s) {
    fs::create_directory_symlink(s.Device(), s.Base() / "devlink");
};
const auto kNoDefault = [](const Scratch& s) {
    return NothingInstalled(s) && !fs::exists(s.Base() / "data");
};

TEST(BenchE2E, WhichDeviceAnUnattendedRunWrites) {
    RunRows({
        {"--root through a link",
         kLinkDevice,
         {"--root", "{base}/devlink", "--install", "1"},
         {{"WCE_ROOT", kUnset}},
         0,
         {"onto {device}\n"},
         Installed},
        {"WCE_ROOT through a link",
         kLinkDevice,
         {"--install", "1"},
         {{"WCE_ROOT", "{base}/devlink"}},
         0,
         {},
         Installed},
        {"WCE_ROOT a dangling link",
         [](const Scratch& s) {
             fs::create_directory_symlink(s.Base() / "gone", s.Base() / "devlink");
         },
         {"--install", "1"},
         {{"WCE_ROOT", "{base}/devlink"}},
         2,
         {"WCE_ROOT={base}/devlink is a symbolic link to a folder that does not exist"},
         NothingInstalled},
        {"WCE_ROOT a file",
         [](const Scratch& s) { WriteFile(s.Base() / "file"); },
         {"--install", "1"},
         {{"WCE_ROOT", "{base}/file"}},
         2,
         {"names a file, not a folder"}},
        {"--install names no device",
         nullptr,
         {"--install", "1"},
         {{"WCE_ROOT", kUnset}, {"XDG_DATA_HOME", "{base}/data"}},
         2,
         {"SETUP: --install \"1\" needs the device named: give --root DIR or set WCE_ROOT=DIR"},
         kNoDefault},
        {"a script names no device",
         nullptr,
         {},
         {{"WCE_ROOT", kUnset}, {"XDG_DATA_HOME", "{base}/data"}},
         2,
         {"a scripted run (WCE_SCRIPT) needs the device named"},
         kNoDefault,
         "",
         "click 1001\nok\nclose\n"},
        {"--list needs none",
         nullptr,
         {"--list"},
         {{"WCE_ROOT", kUnset}, {"XDG_DATA_HOME", "{base}/data"}},
         0,
         {},
         nullptr,
         "1\tEnglish\n"},
        {"a misspelt setting stops the run",
         nullptr,
         {"--install", "1"},
         {{"WCE_ROOTT", "{base}"}},
         2,
         {"SETUP: WCE_ROOTT is not a setting; did you mean WCE_ROOT?"},
         NothingInstalled},
        {"a far one is only named",
         nullptr,
         {"--install", "1"},
         {{"WCE_TMUX_PICTURES", "{base}"}},
         0,
         {"WCE_TMUX_PICTURES is not a setting; see SETUP --help"},
         Installed},
        {"a window without a desktop",
         nullptr,
         {},
         {{"WCE_DISPLAY", "window"},
          {"DISPLAY", kUnset},
          {"WAYLAND_DISPLAY", kUnset},
          {"SDL_VIDEODRIVER", kUnset}},
         2,
         {"WCE_DISPLAY=window: "},
         NothingInstalled,
         "",
         "click 1001\nok\nclose\n"},
    });
}

// What is bound to fail fails before the first copy, the card untouched.
TEST(BenchE2E, KnownFailuresComeBeforeAnyCopy) {
    RunRows({
        {"a path longer than the device's",
         [](const Scratch& s) {
             WriteFile(s.Medium() / "PRODUCT1/SETAPP" / std::string(120, 'a') /
                       std::string(120, 'b') / "c.txt");
         },
         {"--install", "1"},
         {},
         3,
         {"cannot copy \\Storage Card\\PRODUCT1\\SETAPP\\aaa", "the path is 271 characters long"},
         NothingInstalled,
         "message: SETUP: Failed in copying files."},
        {"a missing program folder still fails at its first file",
         [](const Scratch& s) { fs::remove_all(s.Device() / "ROMDisk2/PROGRAM/SETAPP"); },
         {"--install", "1"},
         {},
         3,
         {"cannot copy into \\ROMDisk2\\PROGRAM\\SETAPP"},
         nullptr},
    });
}

TEST(BenchE2E, ACardTooSmallIsRefusedBeforeAnyCopy) {
    Scratch s;
    CopySampleMedium(s);
    const fs::path card = s.Base() / "card";
    fs::create_directory(card);
    if (mount("tmpfs", card.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (not root)";
    fs::create_directories(card / "ROMDisk/PROGRAM/TAV");
    fs::create_directories(card / "ROMDisk2/PROGRAM/SETAPP");
    WriteFile(card / "ROMDisk/PROGRAM/TAV/old.txt", "old");
    WriteFile(s.Medium() / "PRODUCT1/TAV/big.bin", std::string(80 * 1024, 'b'));
    const e2e::RunResult r = s.Run("", {{"WCE_ROOT", card.string()}}, {"--install", "1"});
    EXPECT_EQ(r.exitStatus, 3) << r.err;
    EXPECT_NE(r.err.find("bytes free and the package needs"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was copied"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(card / "ROMDisk2/PROGRAM/SETAPP"));
    EXPECT_EQ(std::distance(fs::directory_iterator(card / "ROMDisk/PROGRAM/TAV"),
                            fs::directory_iterator()),
              1);
    umount2(card.c_str(), MNT_DETACH);
}

// Every install in one log that grows: an opening line, warnings, and its outcome with the cause.
TEST(BenchE2E, TheLogKeepsEveryInstall) {
    Scratch s;
    CopySampleMedium(s);
    const fs::path log = s.Base() / "install.log";
    const std::map<std::string, std::string> env{{"WCE_LOG", log.string()}, {"WCE_VERIFY", "0"}};
    EXPECT_EQ(s.Run("", env, {"--install", "1"}).exitStatus, 0);
    fs::remove_all(s.Medium() / "PRODUCT3");
    EXPECT_EQ(s.Run("", env, {"--install", "3"}).exitStatus, 0);
    fs::remove_all(s.Device() / "ROMDisk2/PROGRAM/SETAPP");
    EXPECT_EQ(s.Run("", env, {"--install", "2"}).exitStatus, 3);
    const std::string text = e2e::ReadAll(log);
    const std::vector<std::string> opened = LinesStartingWith(text, "install ");
    ASSERT_EQ(opened.size(), 3u) << text;
    const std::regex head(
        "install \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ version=1\\.02 key=1 name=English "
        "medium=" +
        s.Medium().string() + " device=" + s.Device().string() +
        " WCE_VERIFY=0 WCE_DISPLAY=headless");
    EXPECT_TRUE(std::regex_match(opened[0], head)) << opened[0];
    EXPECT_NE(opened[2].find(" key=2 name=Deutsch "), std::string::npos) << opened[2];
    EXPECT_EQ(LinesStartingWith(text, "completed ").size(), 2u) << text;
    EXPECT_EQ(LinesStartingWith(text, "warning PRODUCT3 is missing").size(), 1u) << text;
    const std::vector<std::string> failed = LinesStartingWith(text, "failed ");
    ASSERT_EQ(failed.size(), 1u) << text;
    EXPECT_NE(failed[0].find("written=0: cannot copy into \\ROMDisk2\\PROGRAM\\SETAPP"),
              std::string::npos)
        << failed[0];
}

// The log is a regular file reached without a link anywhere on its path; "-" is standard error.
TEST(BenchE2E, TheLogIsAPlainFileOnAPlainPath) {
    RunRows({
        {"a link to a folder on the way",
         [](const Scratch& s) {
             fs::create_directory(s.Base() / "real");
             WriteFile(s.Base() / "real/install.log", "root's own");
             fs::create_directory_symlink(s.Base() / "real", s.Base() / "linked");
         },
         {"--install", "1"},
         {{"WCE_LOG", "{base}/linked/install.log"}},
         2,
         {"WCE_LOG=\"{base}/linked/install.log\": cannot write the log there: a symbolic link "
          "stands on its path"},
         [](const Scratch& s) {
             return NothingInstalled(s) &&
                    e2e::ReadAll(s.Base() / "real/install.log") == "root's own";
         }},
        {"a FIFO nobody reads",
         [](const Scratch& s) { mkfifo((s.Base() / "fifo").c_str(), 0644); },
         {"--install", "1"},
         {{"WCE_LOG", "{base}/fifo"}},
         2,
         {"it is not a regular file"},
         NothingInstalled},
        {"a folder",
         nullptr,
         {"--install", "1"},
         {{"WCE_LOG", "{base}"}},
         2,
         {"cannot write the log there"},
         NothingInstalled},
        {"- is standard error",
         nullptr,
         {"--install", "1"},
         {{"WCE_LOG", "-"}},
         0,
         {"install ", "\ncompleted files=5 "},
         Installed},
    });
}

// A summary after each command-line install; --check compares and changes nothing.
TEST(BenchE2E, SummaryAndCheck) {
    const auto installedThenChanged = [](const Scratch& s) {
        const e2e::RunResult r = s.Run("", {}, {"--install", "1"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        fs::remove(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt");
        WriteFile(s.Device() / "ROMDisk2/PROGRAM/SETAPP/Lang.txt", "other");
    };
    const auto unchanged = [](const Scratch& s) {
        return !fs::exists(s.Device() / "ROMDisk/PROGRAM/TAV/Messages.txt") &&
               e2e::ReadAll(s.Device() / "ROMDisk2/PROGRAM/SETAPP/Lang.txt") == "other";
    };
    RunRows({
        {"the summary",
         nullptr,
         {"--install", "1"},
         {{"WCE_VERIFY", "0"}},
         0,
         {"summary: completed: 5 files installed (0 kept as the card held them), 147 bytes "
          "written, 2 folders made, "}},
        {"the device holds the package",
         [](const Scratch& s) {
             s.Run("", {}, {"--install", "1"});
         },
         {"--check", "1"},
         {},
         0,
         {"check: {device} holds \"English\" (key \"1\"): its 5 files"}},
        {"a file missing, one different",
         installedThenChanged,
         {"--check", "1"},
         {},
         4,
         {"does not hold \"English\" (key \"1\")", "1 missing and 1 different"},
         unchanged,
         "missing \\ROMDisk\\PROGRAM\\TAV\\Messages.txt "
         "({device}/ROMDisk/PROGRAM/TAV/Messages.txt)\n"},
        {"a different file named",
         installedThenChanged,
         {"--check", "1"},
         {},
         4,
         {},
         unchanged,
         "different \\ROMDisk2\\PROGRAM\\SETAPP\\Lang.txt "
         "({device}/ROMDisk2/PROGRAM/SETAPP/Lang.txt): its size differs\n"},
        {"an empty device",
         nullptr,
         {"--check", "2"},
         {},
         4,
         {"of its 3 files and their folders, 4 missing"},
         NothingInstalled},
        {"no such key",
         nullptr,
         {"--check", "9"},
         {},
         2,
         {"SETUP: --check \"9\": no entry has that key"}},
        {"no device named",
         nullptr,
         {"--check", "1"},
         {{"WCE_ROOT", kUnset}, {"XDG_DATA_HOME", "{base}/data"}},
         2,
         {"--check \"1\" needs the device named"},
         kNoDefault},
        {"no catalogue",
         [](const Scratch& s) { fs::remove(s.Medium() / "SETUP.INI"); },
         {"--check", "1"},
         {},
         1,
         {}},
    });
}

// Keys as the catalogue gives them: quoted wherever shown, blanks warned of, only separators
// refused.
TEST(BenchE2E, KeysAsTheCatalogueGivesThem) {
    const auto catalogue = [](std::string lines) {
        return [lines](const Scratch& s) {
            WriteFile(s.Medium() / "SETUP.INI", "[PRODUCT]\r\n" + lines);
        };
    };
    const auto blankKey = [](const Scratch& s) {
        WriteFile(s.Medium() / "SETUP.INI", "[PRODUCT]\r\n1 =English\r\n2=Deutsch\r\n");
        fs::rename(s.Medium() / "PRODUCT1", s.Medium() / "PRODUCT1 ");
    };
    RunRows({
        {"a key with a blank, warned of and quoted",
         blankKey,
         {"--install", "9"},
         {},
         2,
         {"SETUP.INI:2: the key \"1 \" begins or ends with a blank",
          "(the keys listed: \"1 \", \"2\")"}},
        {"a key with a blank installs from its folder",
         blankKey,
         {"--install", "1 "},
         {},
         0,
         {"installing \"English\" (key \"1 \")"},
         Installed},
        {"a key of dots alone is listed",
         catalogue("1..2=Dots\r\n"),
         {"--list"},
         {},
         0,
         {},
         nullptr,
         "1..2\tDots\n"},
        {"a wildcard key names no folder",
         catalogue("*=Star\r\n"),
         {"--install", "*"},
         {},
         0,
         {"SETUP.INI:2: the key \"*\" holds one of", "names no folder and installs nothing"},
         NothingInstalled},
        {"a separator is still refused",
         catalogue("1=English\r\n../1=Up\r\n"),
         {"--list"},
         {},
         0,
         {"SETUP.INI:3: key \"../1\" holds a path separator; the entry is not listed"}},
    });
}

// A signal during the copy stops it after the file in flight, says so, and ends 128 + N.
TEST(BenchE2E, InterruptionsAreSaid) {
    struct Case {
        int sig;
        int second;  // another signal at the same time, or 0
        int status;  // -1: ended by the signal itself
    };
    for (const Case c : {Case{SIGINT, 0, 130}, Case{SIGTERM, 0, 143}, Case{SIGHUP, 0, 129},
                         Case{SIGINT, SIGTERM, -1}}) {
        SCOPED_TRACE(testing::Message() << "signal " << c.sig << " then " << c.second);
        Scratch s;
        CopySampleMedium(s);
        for (int i = 0; i < 3000; ++i)
            WriteFile(s.Medium() / "PRODUCT1/SETAPP/many" / std::to_string(i), "x");
        const fs::path log = s.Base() / "install.log";
        const pid_t pid =
            s.Start("", {{"WCE_LOG", log.string()}, {"WCE_VERIFY", "0"}}, {"--install", "1"});
        // Once some files are in the log, the copy runs.
        for (int i = 0; i < 20000 && LinesStartingWith(e2e::ReadAll(log), "file ").size() < 20; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        // Held stopped, so that both arrive before the program can act on the first.
        if (c.second != 0) kill(pid, SIGSTOP);
        kill(pid, c.sig);
        if (c.second != 0) {
            kill(pid, c.second);
            kill(pid, SIGCONT);
        }
        const e2e::RunResult r = s.Wait(pid);
        EXPECT_EQ(r.exitStatus, c.status) << r.err;
        const std::string text = e2e::ReadAll(log);
        const std::vector<std::string> ended = LinesStartingWith(text, "interrupted ");
        if (c.status < 0) {
            EXPECT_TRUE(ended.empty()) << "a second signal ends at once";
            continue;
        }
        ASSERT_EQ(ended.size(), 1u) << text;
        EXPECT_NE(r.err.find("interrupted after "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("not reached are as they were"), std::string::npos) << r.err;
        // Stopped between files: the card holds exactly the files the log names, each whole.
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(s.Device()))
            files += e.is_regular_file();
        EXPECT_EQ(files, LinesStartingWith(text, "file ").size());
        EXPECT_LT(files, 3006u);
    }
}

}  // namespace
