// The Install command end to end: the real program, headless, driven by a script, on
// temporary device and medium folders.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/install/install_test_util.h"

namespace {

using namespace install_test;

struct Outcome {
    int status = -1;
    std::string out;
};

class InstallCommandE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Device() / "ROMDisk" / "PROGRAM" / "TAV");
        fs::create_directories(Device() / "ROMDisk2" / "PROGRAM" / "SETAPP");
        WriteFile(Medium() / "SETUP.INI", "[PRODUCT]\r\n1=One\r\n2=Two\r\n");
    }

    // prefix: a command the program runs under (dropping privileges, say).
    Outcome Run(const std::string& script, const std::string& prefix = "") {
        WriteFile(m_tmp.path() / "script", script);
        const std::string cmd = "WCE_DISPLAY=headless WCE_ROOT='" + Device().string() +
                                "' WCE_MEDIUM='" + Medium().string() + "' WCE_SCRIPT='" +
                                (m_tmp.path() / "script").string() + "' " + prefix +
                                " '" SETUP_BINARY "' </dev/null";
        Outcome o;
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) return o;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) o.out.append(buf, n);
        const int st = ::pclose(p);
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return o;
    }

    fs::path Device() const { return m_tmp.path() / "device"; }
    fs::path Medium() const { return m_tmp.path() / "medium"; }
    fs::path SetApp() const { return Device() / "ROMDisk2" / "PROGRAM" / "SETAPP"; }
    fs::path Tav() const { return Device() / "ROMDisk" / "PROGRAM" / "TAV"; }

    static int Occurrences(const std::string& s, const std::string& what) {
        int n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
        return n;
    }
    // The dump line of one control.
    static std::string ControlLine(const std::string& dump, int nID, int nth = 0) {
        const std::string key = "control " + std::to_string(nID) + " ";
        size_t at = dump.find(key);
        for (int i = 0; i < nth && at != std::string::npos; ++i) at = dump.find(key, at + 1);
        return at == std::string::npos ? "" : dump.substr(at, dump.find('\n', at) - at);
    }

  private:
    TempDir m_tmp;
};

constexpr const char* kCompleted = "message: SETUP: Installation has been completed.";
constexpr const char* kFailed = "message: SETUP: Failed in copying files.";

TEST_F(InstallCommandE2E, ThreeAndTwoVisibleFilesCompleteAndTheDialogIsIdleAgain) {
    const fs::path pkg = Medium() / "PRODUCT1";
    WriteFile(pkg / "SETAPP" / "a.txt", "a");
    WriteFile(pkg / "SETAPP" / "b.txt", "b");
    WriteFile(pkg / "SETAPP" / "sub" / "c.txt", "c");
    WriteFile(pkg / "SETAPP" / "hidden.ini", "h");
    MarkHidden(pkg / "SETAPP" / "hidden.ini");
    WriteFile(pkg / "TAV" / "x.txt", "x");
    WriteFile(pkg / "TAV" / "y.txt", "y");

    const Outcome o = Run("click 1001\ndump\nok\ndump\nclose\n");
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(Occurrences(o.out, kCompleted), 1) << o.out;
    const size_t second = o.out.find("dialog \"", o.out.find("dialog \"") + 1);
    ASSERT_NE(second, std::string::npos) << o.out;
    const std::string busy = o.out.substr(0, second), idle = o.out.substr(second);
    EXPECT_NE(ControlLine(busy, 1007).find("visible=1"), std::string::npos) << busy;
    EXPECT_NE(ControlLine(busy, 1007).find("text=\"5 / 5\""), std::string::npos) << busy;
    EXPECT_NE(ControlLine(busy, 1005).find("text=\"y.txt\""), std::string::npos) << busy;
    EXPECT_NE(busy.find("enabled=0\n"), std::string::npos) << "disabled while the message shows";
    for (int nID : {1007, 1005, 1002, 1008})
        EXPECT_NE(ControlLine(idle, nID).find("visible=0"), std::string::npos) << nID << idle;
    EXPECT_NE(ControlLine(idle, 1001).find("enabled=1"), std::string::npos) << idle;
    EXPECT_EQ(ReadFile(SetApp() / "sub" / "c.txt"), "c");
    EXPECT_TRUE(IsHidden(SetApp() / "hidden.ini")) << "hidden files are copied, only not shown";
    EXPECT_EQ(ReadFile(Tav() / "y.txt"), "y");
}

TEST_F(InstallCommandE2E, MissingFirstDestinationFailsAndLeavesTheSecondTreeAlone) {
    WriteFile(Medium() / "PRODUCT1" / "SETAPP" / "a.txt");
    WriteFile(Medium() / "PRODUCT1" / "TAV" / "x.txt");
    fs::remove_all(SetApp());
    const Outcome o = Run("click 1001\nok\nclose\n");
    EXPECT_EQ(Occurrences(o.out, kFailed), 1) << o.out;
    EXPECT_EQ(Occurrences(o.out, kCompleted), 0);
    EXPECT_TRUE(fs::is_empty(Tav()));
}

TEST_F(InstallCommandE2E, SamePackageTwiceReplacesReadOnlyTargets) {
    WriteFile(Medium() / "PRODUCT1" / "SETAPP" / "ro.txt", "v1");
    MarkReadOnly(Medium() / "PRODUCT1" / "SETAPP" / "ro.txt");
    WriteFile(Medium() / "PRODUCT1" / "TAV" / "x.txt");
    const Outcome o = Run("click 1001\nok\nclick 1001\nok\nclose\n");
    EXPECT_EQ(Occurrences(o.out, kCompleted), 2) << o.out;
    EXPECT_TRUE(IsReadOnly(SetApp() / "ro.txt")) << "the copy carries the attribute over";
    EXPECT_EQ(ReadFile(SetApp() / "ro.txt"), "v1");
}

TEST_F(InstallCommandE2E, PackageWithoutFoldersCompletesWithNothingCreated) {
    fs::create_directories(Medium() / "PRODUCT1");  // neither SETAPP nor TAV
    const Outcome o = Run("click 1001\ndump\nok\nclose\n");
    EXPECT_EQ(Occurrences(o.out, kCompleted), 1) << o.out;
    EXPECT_NE(ControlLine(o.out, 1007).find("visible=1 enabled=1 text=\"\""), std::string::npos)
        << o.out;
    EXPECT_TRUE(fs::is_empty(SetApp()));
    EXPECT_TRUE(fs::is_empty(Tav()));
}

TEST_F(InstallCommandE2E, SecondPackageAfterTheFirst) {
    WriteFile(Medium() / "PRODUCT1" / "SETAPP" / "one.txt");
    WriteFile(Medium() / "PRODUCT2" / "SETAPP" / "two.txt");
    WriteFile(Medium() / "PRODUCT2" / "TAV" / "two.dat");
    const Outcome o = Run("click 1001\nok\nselect 1\nclick 1001\ndump\nok\nclose\n");
    EXPECT_EQ(Occurrences(o.out, kCompleted), 2) << o.out;
    EXPECT_NE(ControlLine(o.out, 1007).find("text=\"2 / 2\""), std::string::npos)
        << "the counter starts again for each install: " << o.out;
    EXPECT_TRUE(fs::exists(SetApp() / "one.txt"));
    EXPECT_TRUE(fs::exists(SetApp() / "two.txt"));
    EXPECT_TRUE(fs::exists(Tav() / "two.dat"));
}

// Root reads everything; without its override rights, unreadable package entries are real.
TEST_F(InstallCommandE2E, UnreadablePackageEntriesFailTheInstallInsteadOfBeingLeftOut) {
    if (std::system("setpriv --help >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is missing";
    const std::string unprivileged = "setpriv --bounding-set=-dac_override,-dac_read_search";
    const fs::path pkg = Medium() / "PRODUCT1";
    struct Row {
        const char* what;
        fs::path locked;
        const char* expected;
    } rows[] = {
        {"a file no one may read", pkg / "SETAPP" / "a.txt", kFailed},
        {"a folder no one may list", pkg / "TAV" / "sub", kFailed},
        {"nothing locked", {}, kCompleted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(pkg);
        WriteFile(pkg / "SETAPP" / "a.txt", "a");
        WriteFile(pkg / "TAV" / "sub" / "b.txt", "b");
        if (!row.locked.empty()) fs::permissions(row.locked, fs::perms::none);
        const Outcome o = Run("click 1001\nok\nclose\n", unprivileged);
        if (!row.locked.empty()) fs::permissions(row.locked, fs::perms::owner_all);
        EXPECT_EQ(Occurrences(o.out, row.expected), 1) << o.out;
    }
}

}  // namespace
