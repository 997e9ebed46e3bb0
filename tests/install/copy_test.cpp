// The tree copy on real trees in the device namespace, inside a live dialog.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/display/displays.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/strings.h"
#include "platform/user/display.h"
#include "tests/install/dialog_host.h"
#include "tests/install/install_test_util.h"

namespace {

using namespace install_test;
using wce::kernel::OpenHandleCount;
using Shown = std::pair<std::u16string, std::u16string>;  // file name, counter

// Records what the two progress controls show each time the screen is repainted, as a person
// watching the device would see it.
class RecordingDisplay : public wce::user::Display {
  public:
    static inline HWND s_hDlg = nullptr;
    static inline std::vector<Shown> s_shown;

    void WaitForInput() override { wce::display::AnswerAsAbsentUser(); }
    void ScreenChanged() override {
        if (!s_hDlg || !::IsWindow(s_hDlg)) return;
        const Shown now{Text(IDC_FILE_NAME), Text(IDC_PROGRESS)};
        if (s_shown.empty() || s_shown.back() != now) s_shown.push_back(now);
    }

  private:
    static std::u16string Text(int nID) {
        WCHAR sz[64] = {};
        ::GetWindowTextW(::GetDlgItem(s_hDlg, nID), sz, 64);
        return sz;
    }
};

// "f:" visible file, "h:" hidden file, "r:" read-only file, "d:" folder; "=TEXT" sets content.
void Build(const fs::path& root, const std::vector<std::string>& entries) {
    fs::create_directories(root);
    for (const auto& e : entries) {
        std::string rest = e.substr(2);
        std::string data = "src";
        if (const auto eq = rest.find('='); eq != std::string::npos) {
            data = rest.substr(eq + 1);
            rest.resize(eq);
        }
        if (e[0] == 'd') {
            fs::create_directories(root / rest);
            continue;
        }
        WriteFile(root / rest, data);
        if (e[0] == 'h') MarkHidden(root / rest);
        if (e[0] == 'r') MarkReadOnly(root / rest);
    }
}

class InstallCopy : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        wce::user::SetDisplay(std::make_unique<RecordingDisplay>());
        RecordingDisplay::s_shown.clear();
    }
    void TearDown() override {
        RecordingDisplay::s_hDlg = nullptr;
        wce::kernel::ClearFaults();
    }

    // Copies \src\ onto \dst\ as the Install command would, recording what is shown.
    int Copy(int bCopyAll = FALSE, int nTotal = 2, int nCopied = 0,
             const std::function<void(HostedDlg&)>& before = {}) {
        int nResult = -1;
        RunInDialog([&](HostedDlg& dlg) {
            ::ShowWindow(dlg.Control(IDC_PROGRESS), SW_SHOW);
            ::ShowWindow(dlg.Control(IDC_FILE_NAME), SW_SHOW);
            ::SetWindowTextW(dlg.Control(IDC_PROGRESS), u"");
            ::SetWindowTextW(dlg.Control(IDC_FILE_NAME), u"");
            dlg.m_nTotalFiles = nTotal;
            dlg.m_nCopiedFiles = nCopied;
            if (before) before(dlg);
            RecordingDisplay::s_hDlg = dlg.m_hWnd;
            RecordingDisplay::s_shown.clear();
            nResult = dlg.CopyTree(DevicePath(m_src).c_str(), DevicePath(m_dst).c_str(), bCopyAll);
            m_nCopied = dlg.m_nCopiedFiles;
            m_nTotalAfter = dlg.m_nTotalFiles;
            m_nPings = dlg.nPings;
            m_bStackLeft = dlg.m_pWalkStack != nullptr;
        });
        EXPECT_EQ(OpenHandleCount(), 0);
        return nResult;
    }
    static std::u16string DevicePath(const std::string& name) {
        return u"\\" + std::u16string(name.begin(), name.end()) + u"\\";
    }
    fs::path Src() const { return Device() / m_src; }
    fs::path Dst() const { return Device() / m_dst; }

    std::string m_src = "src";
    std::string m_dst = "dst";
    int m_nCopied = 0;
    int m_nTotalAfter = 0;
    int m_nPings = 0;
    bool m_bStackLeft = false;
};

TEST_F(InstallCopy, ShowsEachVisibleFileThenItsCounter) {
    Build(Src(), {"f:a.txt", "h:h.dat", "f:sub/b.txt"});
    fs::create_directories(Dst());
    EXPECT_EQ(Copy(), 1);
    const std::vector<Shown> expected = {{u"", u""},
                                         {u"a.txt", u""},
                                         {u"a.txt", u"1 / 2"},
                                         {u"b.txt", u"1 / 2"},
                                         {u"b.txt", u"2 / 2"}};
    EXPECT_EQ(RecordingDisplay::s_shown, expected);
    EXPECT_EQ(m_nCopied, 2);
    EXPECT_EQ(ReadFile(Dst() / "a.txt"), "src");
    EXPECT_TRUE(IsHidden(Dst() / "h.dat")) << "attributes come with the copy";
    EXPECT_TRUE(fs::is_regular_file(Dst() / "sub" / "b.txt"));
}

TEST_F(InstallCopy, TreesLandOnTheirDestination) {
    struct Row {
        const char* name;
        std::vector<std::string> src;  // empty and no "src" folder when missing is set
        std::vector<std::string> dst;
        bool srcMissing, dstMissing;
        int bCopyAll, nTotal;
        int result, copied;
        std::vector<std::string> present, absent;  // below the destination
        std::u16string lastCounter;
    };
    const Row rows[] = {
        {"empty source", {}, {}, false, false, 0, 0, 1, 7, {}, {"x"}, u""},
        {"missing source", {}, {}, true, false, 0, 0, 1, 7, {}, {"x"}, u""},
        {"nested empty folders", {"d:A/B"}, {}, false, false, 0, 0, 1, 7, {"A/B"}, {}, u""},
        {"dot folder skipped, dot file copied",
         {"f:.config/x", "f:.profile"},
         {},
         false,
         false,
         0,
         1,
         1,
         8,
         {".profile"},
         {".config"},
         u"8 / 1"},
        {"read-only and hidden targets replaced",
         {"f:a.txt=new", "f:b.txt=new"},
         {"r:a.txt=old", "h:b.txt=old"},
         false,
         false,
         0,
         2,
         1,
         9,
         {"a.txt", "b.txt"},
         {},
         u"9 / 2"},
        {"existing folder kept with its extra files",
         {"f:sub/a"},
         {"f:sub/extra"},
         false,
         false,
         0,
         1,
         1,
         8,
         {"sub/a", "sub/extra"},
         {},
         u"8 / 1"},
        {"file in the way of a folder",
         {"f:sub/a"},
         {"f:sub=old"},
         false,
         false,
         0,
         1,
         0,
         8,
         {},
         {},
         u"8 / 1"},
        {"file in the way of a folder with nothing to place",
         {"f:sub/.git/a"},
         {"f:sub=old"},
         false,
         false,
         0,
         0,
         1,
         7,
         {},
         {},
         u""},
        {"folder in the way of a file",
         {"f:a.txt"},
         {"d:a.txt"},
         false,
         false,
         0,
         1,
         0,
         8,
         {},
         {},
         u"8 / 1"},
        {"missing destination root",
         {"f:a.txt", "f:b.txt"},
         {},
         false,
         true,
         0,
         5,
         0,
         8,
         {},
         {"b.txt"},
         u"8 / 5"},
        {"copy all shows hidden files",
         {"f:a", "h:b", "h:c/d"},
         {},
         false,
         false,
         1,
         3,
         1,
         10,
         {"a", "b", "c/d"},
         {},
         u"10 / 3"},
        {"tree grew since the count",
         {"f:a", "f:b", "f:c"},
         {},
         false,
         false,
         0,
         1,
         1,
         10,
         {"a", "b", "c"},
         {},
         u"10 / 1"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_src = "src" + std::to_string(n);
        m_dst = "dst" + std::to_string(n++);
        if (!row.srcMissing) Build(Src(), row.src);
        if (!row.dstMissing) Build(Dst(), row.dst);
        EXPECT_EQ(Copy(row.bCopyAll, row.nTotal, 7), row.result);
        EXPECT_EQ(m_nCopied, row.copied);
        for (const auto& p : row.present) EXPECT_TRUE(fs::exists(Dst() / p)) << p;
        for (const auto& p : row.absent) EXPECT_FALSE(fs::exists(Dst() / p)) << p;
        const std::u16string last =
            RecordingDisplay::s_shown.empty() ? u"" : RecordingDisplay::s_shown.back().second;
        EXPECT_EQ(last, row.lastCounter);
        for (const auto& e : row.dst) {
            const std::string name = e.substr(2, e.find('=') - 2);
            if (e.find("=old") != std::string::npos && row.result == 1 &&
                std::find(row.present.begin(), row.present.end(), name) != row.present.end()) {
                const fs::path target = Dst() / name;
                EXPECT_EQ(ReadFile(target), "new");
                EXPECT_FALSE(IsReadOnly(target) || IsHidden(target))
                    << "a plain source gives a plain target";
            }
        }
    }
}

TEST_F(InstallCopy, FailureAtDepthTwoEndsEveryEnumerationAndStops) {
    Build(Src(), {"f:a.txt", "f:d1/d2/x.txt", "f:d1/d2/y.txt", "f:d1/z.txt", "f:zz.txt"});
    fs::create_directories(Dst());
    // Each new file is linked under its name once: fail the second one, d1\d2\x.txt.
    wce::kernel::InjectFault(wce::kernel::HostOp::Link, 2, EIO, true);
    EXPECT_EQ(Copy(FALSE, 5), 0);
    EXPECT_EQ(m_nCopied, 2) << "the failing file was shown and counted";
    EXPECT_TRUE(fs::exists(Dst() / "a.txt"));
    EXPECT_TRUE(fs::is_directory(Dst() / "d1" / "d2"));
    for (const char* p : {"d1/d2/x.txt", "d1/d2/y.txt", "d1/z.txt", "zz.txt"})
        EXPECT_FALSE(fs::exists(Dst() / p)) << p;
}

TEST_F(InstallCopy, ExhaustedMemoryFailsTheCopyCleanly) {
    Build(Src(), {"f:a.txt", "f:d/b.txt"});
    fs::create_directories(Dst());
    wce::kernel::InjectFault(wce::kernel::HostOp::Realloc, 2, ENOMEM);
    EXPECT_EQ(Copy(), 0);
    EXPECT_FALSE(fs::exists(Dst() / "d" / "b.txt"));
}

TEST_F(InstallCopy, PathsBeyondTheBufferFailInsteadOfBeingLeftOut) {
    const std::string n80(80, 'n');
    struct Row {
        const char* name;
        fs::path file;
    };
    // "\src\" + 3 x 81 = 248 units: a 20-unit name no longer fits, nor does a fourth folder.
    const Row rows[] = {{"long file name", fs::path(n80) / n80 / n80 / std::string(20, 'f')},
                        {"deep folder", fs::path(n80) / n80 / n80 / n80 / "x"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(Src());
        fs::remove_all(Dst());
        fs::create_directories(Dst());
        WriteFile(Src() / row.file);
        EXPECT_EQ(Copy(), 0);
    }
}

TEST_F(InstallCopy, TargetThatIsTheSourceItselfIsNeverDeleted) {
    Build(Src(), {"f:a.txt=precious"});
    fs::create_directory_symlink("src", Dst());
    EXPECT_EQ(Copy(), 0) << "nothing can be copied onto itself";
    EXPECT_EQ(ReadFile(Src() / "a.txt"), "precious");
}

TEST_F(InstallCopy, DispatchesQueuedMessagesAndIgnoresASecondInstall) {
    Build(Src(), {"f:a.txt"});
    fs::create_directories(Dst());
    fs::create_directories(Device() / "ROMDisk2" / "PROGRAM" / "SETAPP");
    EXPECT_EQ(Copy(FALSE, 1, 0,
                   [&](HostedDlg& dlg) {
                       StringCchCopyW(dlg.m_szSetupDir, MAX_PATH, u"\\Storage Card\\");
                       dlg.m_lbProducts.InsertString(0, u"One");
                       dlg.m_lbProducts.SetCurSel(0);
                       dlg.m_aszProductKeys[0][0] = u'1';
                       WriteFile(Medium() / "PRODUCT1" / "SETAPP" / "other.txt");
                       for (int i = 0; i < 3; ++i) ::PostMessageW(dlg.m_hWnd, WM_TEST_PING, 0, 0);
                       ::PostMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, BN_CLICKED),
                                      0);
                       dlg.m_nTotalFiles = 42;
                   }),
              1);
    EXPECT_EQ(m_nPings, 3);
    EXPECT_FALSE(fs::exists(Device() / "ROMDisk2" / "PROGRAM" / "SETAPP" / "other.txt"))
        << "no install started from inside the copy";
    EXPECT_EQ(m_nTotalAfter, 42) << "the second install did not even count";
}

TEST_F(InstallCopy, WindowDestroyedMidCopyEndsItWithoutPullingTheStack) {
    Build(Src(), {"f:a/b/c.txt", "f:z.txt"});
    fs::create_directories(Dst());
    EXPECT_EQ(Copy(FALSE, 2, 0,
                   [](HostedDlg& dlg) { ::PostMessageW(dlg.m_hWnd, WM_TEST_DESTROY, 0, 0); }),
              0);
    EXPECT_FALSE(m_bStackLeft) << "the copy released the stack the dead window left to it";
    EXPECT_FALSE(fs::exists(Dst() / "z.txt"));
}

}  // namespace
