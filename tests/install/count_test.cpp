// The file count over real trees in the device namespace.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "dialog/setup_dlg.h"
#include "platform/kernel/heap.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/host/filesystems.h"
#include "tests/install/install_test_util.h"

namespace {

using namespace install_test;
using wce::kernel::OpenHandleCount;

// "f:" visible file, "h:" hidden file, "d:" folder, "l:LINK>TARGET" symbolic link.
void Build(const fs::path& root, const std::vector<std::string>& entries) {
    fs::create_directories(root);
    for (const auto& e : entries) {
        const std::string rest = e.substr(2);
        if (e[0] == 'd') {
            fs::create_directories(root / rest);
        } else if (e[0] == 'l') {
            const auto gt = rest.find('>');
            fs::create_directories((root / rest.substr(0, gt)).parent_path());
            fs::create_directory_symlink(rest.substr(gt + 1), root / rest.substr(0, gt));
        } else {
            WriteFile(root / rest);
            if (e[0] == 'h') MarkHidden(root / rest);
        }
    }
}

class InstallCount : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        m_dlg.m_pWalkStack =
            static_cast<WalkFrame*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WalkFrame)));
    }
    void TearDown() override { HeapFree(GetProcessHeap(), 0, m_dlg.m_pWalkStack); }
    int Count(LPCWSTR root, int all) { return m_dlg.CountFiles(root, all); }
    SIZE_T StackFrames() const {
        return HeapSize(GetProcessHeap(), 0, m_dlg.m_pWalkStack) / sizeof(WalkFrame);
    }
    CSetupDlg m_dlg;
};

TEST_F(InstallCount, TreesGiveTheirVisibleFiles) {
    struct Row {
        const char* name;
        std::vector<std::string> entries;
        int visible;
        int all;
    };
    const Row rows[] = {
        {"empty root", {}, 0, 0},
        {"three files, one hidden", {"f:a.txt", "h:h.dat", "f:z.txt"}, 2, 3},
        {"nested empty folders", {"d:A/B/C", "d:D"}, 0, 0},
        {"dot folders at several depths, visible dot file",
         {"f:.config/x", "f:.config/deep/er/y", "f:s/.cache/z", "f:s/t/.git/w", "f:.profile",
          "f:s/t/u.txt"},
         2,
         2},
        {"hidden folder with visible files", {"d:hid", "f:hid/a", "f:hid/b"}, 2, 2},
        {"hidden files at depth", {"f:a/b/c/v", "h:a/b/c/h", "h:a/h2"}, 1, 3},
        {"links back to the root from two depths",
         {"f:a/x", "l:a/up>..", "d:a/b", "l:a/b/up2>../..", "f:y"},
         2,
         2},
        {"link to a sibling is walked like a folder", {"f:a/x", "l:b>a"}, 2, 2},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = "t" + std::to_string(n++);
        Build(Device() / dir, row.entries);
        const std::u16string root = u"\\" + std::u16string(dir.begin(), dir.end()) + u"\\";
        EXPECT_EQ(Count(root.c_str(), FALSE), row.visible);
        EXPECT_EQ(Count(root.c_str(), TRUE), row.all);
        EXPECT_EQ(Count(root.c_str(), FALSE), row.visible) << "a second count differs";
        EXPECT_EQ(OpenHandleCount(), 0);
    }
}

TEST_F(InstallCount, RootsThatCannotBeEnumeratedCountNothing) {
    WriteFile(Device() / "file");
    for (LPCWSTR root : {u"\\missing\\", u"\\file\\", u"\\missing\\deeper\\"}) {
        SCOPED_TRACE(fs::path(std::u16string(root)).string());
        EXPECT_EQ(Count(root, FALSE), 0);
        EXPECT_EQ(Count(root, TRUE), 0);
        EXPECT_EQ(OpenHandleCount(), 0);
    }
}

TEST_F(InstallCount, StackBlockFollowsTheLastDescent) {
    Build(Device() / "deep", {"f:a/b/c/d/e/f.txt"});
    EXPECT_EQ(Count(u"\\deep\\", FALSE), 1);
    EXPECT_EQ(StackFrames(), 6u) << "five levels below the root";

    // The deep branch comes first; the last descent is one level down.
    Build(Device() / "mixed", {"f:a/b/c/d/e/f.txt", "f:z/g.txt"});
    EXPECT_EQ(Count(u"\\mixed\\", FALSE), 2);
    EXPECT_EQ(StackFrames(), 2u);

    Build(Device() / "flat", {"f:a.txt"});
    EXPECT_EQ(Count(u"\\flat\\", FALSE), 1);
    EXPECT_EQ(StackFrames(), 1u);
    EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(InstallCount, FileVanishedBeforeItsAttributeReadIsNotCounted) {
    Build(Device() / "v", {"f:gone.txt"});
    // Far behind the file's stamps, this clock settles none: no attribute word is remembered.
    // Moving 50 ms a reading, it outruns the tick in which what FindNextFileW delivered answers.
    // The walk's last extended-attribute read is then this file's own: fail exactly that one, as
    // a file that vanished after its enumeration does. The fixture puts the clock back.
    wce::kernel::fsinfo::SetClock([] {
        static int64_t now = 0;
        return now += 50'000'000;
    });
    wce::kernel::ClearFaults();
    ASSERT_EQ(Count(u"\\v\\", FALSE), 1);
    const int nStats = wce::kernel::HostCallCount(wce::kernel::HostOp::GetXattr);
    ASSERT_GT(nStats, 0);
    {
        wce::kernel::FaultScope faults;
        faults.Fail(wce::kernel::HostOp::GetXattr, nStats, ENOENT);
        EXPECT_EQ(Count(u"\\v\\", FALSE), 0);
    }
    {
        wce::kernel::FaultScope faults;
        faults.Fail(wce::kernel::HostOp::GetXattr, nStats, ENOENT);
        EXPECT_EQ(Count(u"\\v\\", TRUE), 1) << "counting all reads no attributes";
    }
    EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(InstallCount, ExhaustedMemoryEndsTheWalkCleanly) {
    Build(Device() / "m", {"f:a.txt", "f:b/c/x.txt", "f:b/y.txt", "f:z.txt"});
    struct Row {
        int nth;
        int expected;
    };
    // Resizes: 1 at the start, 2 into b, 3 into b\c.
    for (const Row& row : {Row{1, 0}, Row{2, 1}, Row{3, 1}}) {
        SCOPED_TRACE(row.nth);
        wce::kernel::FaultScope faults;
        faults.Fail(wce::kernel::HostOp::Realloc, row.nth, ENOMEM);
        EXPECT_EQ(Count(u"\\m\\", FALSE), row.expected) << "counted until the shortage";
        EXPECT_EQ(OpenHandleCount(), 0);
        ASSERT_NE(m_dlg.m_pWalkStack, nullptr) << "the old block stays";
    }
    EXPECT_EQ(Count(u"\\m\\", FALSE), 4);
}

TEST_F(InstallCount, PathsBeyondTheBufferAreNotCountedAndNeverOverrun) {
    // "\o\" + 3 x (80 + 1) units = 246: the third level's files still fit, the fourth's do not.
    const std::string n80(80, 'n');
    const fs::path base = Device() / "o" / n80 / n80 / n80;
    Build(Device() / "o", {"f:top.txt"});
    WriteFile(base / "fits.txt");            // 254 units
    WriteFile(base / std::string(20, 'f'));  // 266 units
    WriteFile(base / n80 / "deeper.txt");    // folder beyond the limit
    EXPECT_EQ(Count(u"\\o\\", FALSE), 2);
    EXPECT_EQ(OpenHandleCount(), 0);
}

}  // namespace
