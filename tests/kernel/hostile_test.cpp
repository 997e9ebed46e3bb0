// The kernel against a host that changes under it, fails underneath it, or holds what is not
// ours: nothing written outside the device, no error lost, nothing of anyone else's removed.
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/kernel/activity.h"
#include "tests/kernel/kernel_fixture.h"

using namespace wce::kernel;

namespace {

std::string Outside(const std::string& top) { return top + "/outside"; }

}  // namespace

// A folder already used, swapped for a link out of the device: the next copy does not follow it.
TEST_F(KernelTest, HostileFolderSwappedForALinkOutIsNotFollowed) {
    Write(medium() + "/a.txt", "a");
    fs::create_directories(root() + "/inbox");
    fs::create_directories(Outside(top()));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\inbox\\a.txt", FALSE));
    fs::rename(root() + "/inbox", top() + "/was-inbox");
    fs::create_directory_symlink(Outside(top()), root() + "/inbox");
    AfterClockTick();  // the folder written in is held for one tick (within it, it is the one looked up)
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\a.txt", u"\\inbox\\b.txt", FALSE));
    EXPECT_FALSE(CreateDirectoryW(u"\\inbox\\sub", nullptr));
    EXPECT_TRUE(fs::is_empty(Outside(top())));
}

// Resetting a destination's attributes never reaches a file through a link: a symbolic link to
// the medium, or a second name of a file outside the device.
TEST_F(KernelTest, HostileAttributeResetDoesNotActThroughLinks) {
    Write(medium() + "/ro.txt", "medium");
    chmod((medium() + "/ro.txt").c_str(), 0444);
    SetDosAttrib(medium() + "/ro.txt", "0x2");
    fs::create_symlink(medium() + "/ro.txt", root() + "/sym.txt");
    fs::create_directories(Outside(top()));
    Write(Outside(top()) + "/ext.txt", "outside");
    chmod((Outside(top()) + "/ext.txt").c_str(), 0444);
    fs::create_hard_link(Outside(top()) + "/ext.txt", root() + "/hard.txt");
    Write(medium() + "/new.txt", "new");

    for (const char16_t* target : {u"\\sym.txt", u"\\hard.txt"}) {
        EXPECT_TRUE(SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL));
        EXPECT_TRUE(CopyFileW(u"\\Storage Card\\new.txt", target, FALSE)) << GetLastError();
    }
    struct stat st {};
    ASSERT_EQ(stat((medium() + "/ro.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(Read(medium() + "/ro.txt"), "medium");
    ASSERT_EQ(stat((Outside(top()) + "/ext.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(Read(Outside(top()) + "/ext.txt"), "outside");
    EXPECT_FALSE(fs::is_symlink(root() + "/sym.txt"));
    EXPECT_EQ(Read(root() + "/sym.txt"), "new");
    EXPECT_EQ(Read(root() + "/hard.txt"), "new");
}

// The sweep removes only temporaries in our exact format whose writer is proven gone: one it can
// lock.
TEST_F(KernelTest, HostileSweepRemovesOnlyTemporariesOfGoneWriters) {
    Write(medium() + "/a.txt", "a");
    const std::string dir = root() + "/d";
    fs::create_directories(dir);
    const std::string userFile = dir + "/.wce-copy-40000-notes.txt", stale = dir + "/.wce-copy-1-2.tmp",
                      live = dir + "/.wce-copy-3-4.tmp";
    for (const std::string& p : {userFile, stale, live}) Write(p, "x");
    host::Fd held(open(live.c_str(), O_RDONLY));
    ASSERT_EQ(flock(held.get(), LOCK_EX), 0);  // a writer still at work, in any process

    Write(root() + "/d/a.txt", "old");  // replacing makes a temporary, which sweeps first
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\d\\a.txt", FALSE));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(userFile));
    EXPECT_TRUE(fs::exists(live));
}

// A write-back error at any flush point fails the copy or the flush that meets it.
TEST_F(KernelTest, HostileWriteBackErrorsReachTheResult) {
    Write(medium() + "/big.bin", std::string(3 << 20, 'b'));  // written back in pieces
    struct Row {
        const char* what;
        HostOp op;
        bool copyFails;
    } rows[] = {
        {"a piece's write-back", HostOp::SyncRange, true},
        {"the final flush", HostOp::SyncFs, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove(root() + "/big.bin");
        ForgetHost();
        FaultScope faults;
        faults.Fail(r.op, 1, EIO, true);
        const BOOL copied = CopyFileW(u"\\Storage Card\\big.bin", u"\\big.bin", FALSE);
        EXPECT_EQ(copied == FALSE, r.copyFails);
        if (copied) {
            EXPECT_FALSE(FlushVolumeW(u"\\"));
        }
        EXPECT_GE(FaultsFired(r.op), 1);
    }
}

// A source's size is taken from the open file: one that reports none (as some special files do)
// is read to its end, and one that reports less than it holds is copied to that size.
TEST_F(KernelTest, HostileSourceSizeAsTheOpenFileReportsIt) {
    Write(medium() + "/five.txt", "12345");
    for (off_t reported : {0, 3}) {
        SCOPED_TRACE(reported);
        static off_t s_reported;
        s_reported = reported;
        host::Table().fstatat = [](int d, const char* p, struct stat* st, int f) {
            const int r = host::RealOps().fstatat(d, p, st, f);
            if (r == 0 && S_ISREG(st->st_mode) && st->st_size == 5) st->st_size = s_reported;
            return r;
        };
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\five.txt", u"\\copy.txt", FALSE)) << GetLastError();
        host::RestoreOps();
        EXPECT_EQ(Read(root() + "/copy.txt"), reported == 0 ? "12345" : "123");
        fs::remove(root() + "/copy.txt");
    }
}

// What the medium gives back after the flush is compared with the package's file: a difference
// fails the flush and names the file; with read-back off, nothing is read.
TEST_F(KernelTest, HostileReadBackFindsWhatTheMediumDoesNotHold) {
    struct Listener : Activity {
        std::u16string failed;
        void Failed(std::string_view, std::u16string_view path, int) override { failed = path; }
    } listener;
    SetActivity(&listener);
    Write(medium() + "/a.bin", std::string(3 << 20, 'a'));
    for (int verify : {1, 0}) {
        SCOPED_TRACE(verify);
        DeviceConfig c = CurrentDevice();
        c.verify = verify;
        ConfigureDevice(c);
        for (bool lying : {false, true}) {
            ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\a.bin", FALSE));
            if (lying) {
                std::fstream f(root() + "/a.bin", std::ios::in | std::ios::out | std::ios::binary);
                f.seekp(2 << 20);
                f.put('x');
            }
            const bool flagged = lying && verify == 1;
            EXPECT_EQ(FlushVolumeW(u"\\"), flagged ? FALSE : TRUE);
            if (flagged) {
                EXPECT_EQ(GetLastError(), ERROR_CRC);
                EXPECT_EQ(listener.failed, u"\\a.bin");
            }
        }
    }
    SetActivity(nullptr);
}

// Only a regular file is opened as a source: a pipe or a device on a medium is refused unopened.
TEST_F(KernelTest, HostileSourceThatIsNoFileIsNeverOpened) {
    ASSERT_EQ(mkfifo((medium() + "/pipe").c_str(), 0644), 0);
    FaultScope counting;
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\pipe", u"\\pipe", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(HostCallCount(HostOp::Open), 0);
    EXPECT_FALSE(fs::exists(root() + "/pipe"));
}
