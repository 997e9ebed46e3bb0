// The installer dialog's start-up and end, in process on a scratch device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "dialog/setup_dlg.h"
#include "platform/kernel/heap.h"
#include "platform/kernel/host/faults.h"
#include "tests/dialog/shell_fixture.h"

namespace {

using shell_test::ScratchDevice;

struct IdleState {
    std::u16string setupDir;
    int sel = -2;
    SIZE_T stackBytes = 0;
    RECT outer{};
    bool visible[5]{};
    std::u16string version;
};

constexpr int kProgressIds[] = {IDC_PROGRESS, IDC_FILE_NAME, IDC_COPYING_LABEL,
                                IDC_FILE_NAME_LABEL};

IdleState LookAt(CSetupDlg& dlg) {
    IdleState s;
    s.setupDir = dlg.m_szSetupDir;
    s.sel = dlg.m_lbProducts.GetCurSel();
    s.stackBytes = HeapSize(GetProcessHeap(), 0, dlg.m_pWalkStack);
    dlg.GetWindowRect(&s.outer);
    for (int i = 0; i < 4; ++i)
        s.visible[i] = IsWindowVisible(dlg.GetDlgItem(kProgressIds[i])->m_hWnd) != FALSE;
    s.visible[4] = IsWindowVisible(dlg.GetDlgItem(IDC_INSTALL)->m_hWnd) != FALSE;
    CString text;
    dlg.GetDlgItem(IDC_VERSION)->GetWindowText(text);
    s.version = static_cast<LPCWSTR>(text);
    return s;
}

TEST(SetupDialog, StartsIdleWithCatalogueListed) {
    ScratchDevice device;
    device.WriteCatalogue("[PRODUCT]\r\n1=English\r\n2=Deutsch\r\n");
    CSetupDlg dlg;
    IdleState idle;
    shell_test::UseProbeDisplay([&] { idle = LookAt(dlg); });
    EXPECT_EQ(dlg.DoModal(), IDOK) << "the caption OK button ends the dialog";

    EXPECT_EQ(idle.setupDir, u"\\Storage Card\\");
    EXPECT_EQ(idle.sel, 0);
    EXPECT_EQ(idle.stackBytes, sizeof(WalkFrame));
    EXPECT_EQ(idle.outer.left, 0);
    EXPECT_EQ(idle.outer.top, 0);
    EXPECT_EQ(idle.outer.right, 320);
    EXPECT_EQ(idle.outer.bottom, 240);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(idle.visible[i]) << "progress control " << kProgressIds[i] << " hidden";
    EXPECT_TRUE(idle.visible[4]);
    EXPECT_EQ(idle.version, u"1.02");
    EXPECT_EQ(dlg.m_pWalkStack, nullptr) << "freed when the window was destroyed";
}

TEST(SetupDialog, DestroyLeavesStackToRunningInstall) {
    ScratchDevice device;
    device.WriteCatalogue("[PRODUCT]\r\n1=English\r\n");
    CSetupDlg dlg;
    shell_test::UseProbeDisplay([&] { dlg.m_bInstalling = TRUE; });
    dlg.DoModal();
    ASSERT_NE(dlg.m_pWalkStack, nullptr) << "the install frees it after its walk";
    HeapFree(GetProcessHeap(), 0, dlg.m_pWalkStack);
    dlg.m_pWalkStack = nullptr;
}

// Only the folder of the executable: a path that did not fit gives none rather than a parent's.
TEST(SetupDialog, SetupDirectoryFromExecutablePath) {
    class DirProbe : public CSetupDlg {
      public:
        std::u16string dir;

      protected:
        BOOL OnInitDialog() override {
            FindSetupDir();
            dir = m_szSetupDir;
            EndDialog(IDOK);
            return TRUE;
        }
    };
    struct Row {
        std::u16string medium, exe, dir;
    };
    const std::u16string m250(250, u'm'), m252(252, u'm');
    const Row rows[] = {
        {u"Storage Card", u"SETUP.exe", u"\\Storage Card\\"},
        {m250, u"S.exe", u"\\" + m250 + u"\\"},  // 257 units: fits
        {m252, u"SETUP.exe", u""},               // 263 units: cut
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "medium name of " << row.medium.size() << " units");
        wce::kernel::DeviceConfig config;
        config.mediumName = row.medium;
        config.exeName = row.exe;
        ScratchDevice device(config);
        shell_test::UseProbeDisplay();
        DirProbe dlg;
        dlg.DoModal();
        EXPECT_EQ(dlg.dir, row.dir);
    }
}

// The stop path in a child process: message boxes print to stdout, which the child joins to
// stderr so that the death test can read them.
void StartWithFailedAllocation() {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    ScratchDevice device;
    device.WriteCatalogue("[PRODUCT]\r\n1=English\r\n");
    shell_test::UseProbeDisplay();
    wce::kernel::InjectFault(wce::kernel::HostOp::Realloc, 1, ENOMEM, true);
    CSetupDlg dlg;
    dlg.DoModal();
}

TEST(SetupDialogDeathTest, FailedStackAllocationStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(StartWithFailedAllocation(), testing::ExitedWithCode(1),
                "message: SETUP: Failed in allocating memory\\.\n"
                "message: SETUP: Installation is stopped\\.\n");
}

}  // namespace
