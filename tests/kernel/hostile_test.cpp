// The kernel against a host that changes under it, fails underneath it, or holds what is not
// ours: nothing written outside the device, no error lost, nothing of anyone else's removed.
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

#include "platform/kernel/activity.h"
#include "tests/support/call_budgets.h"
#include "tests/support/scratch_device.h"

using namespace wce::kernel;

namespace {

std::string Outside(const std::string& top) {
    return top + "/outside";
}

}  // namespace

// A folder already used, swapped for a link out of the device: the next copy does not follow it.
TEST_F(KernelTest, HostileFolderSwappedForALinkOutIsNotFollowed) {
    Write(medium() + "/a.txt", "a");
    fs::create_directories(root() + "/inbox");
    fs::create_directories(Outside(top()));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\inbox\\a.txt", FALSE));
    fs::rename(root() + "/inbox", top() + "/was-inbox");
    fs::create_directory_symlink(Outside(top()), root() + "/inbox");
    // The folder written in is held for one tick (within it, it is the one looked up).
    Advance(kNextTick);
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
    const std::string userFile = dir + "/.wce-copy-40000-notes.txt",
                      stale = dir + "/.wce-copy-1-2.tmp", live = dir + "/.wce-copy-3-4.tmp";
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
        EXPECT_EQ(Read(root() + "/copy.txt"), reported == 0 ? "12345" : "123");
        fs::remove(root() + "/copy.txt");
    }
}

// What the medium gives back after the flush is compared with the package's file: a difference
// fails the flush and names the file; with read-back off, nothing is read.
TEST_F(KernelTest, HostileReadBackFindsWhatTheMediumDoesNotHold) {
    struct Listener : Activity {
        std::u16string failed;
        void Failed(const Failure& f) override { failed = f.path; }
    } listener;
    SetActivity(&listener);
    Write(medium() + "/a.bin", std::string(3 << 20, 'a'));
    for (int verify : {1, 0}) {
        SCOPED_TRACE(verify);
        SetVerify(verify);
        for (bool lying : {false, true}) {
            fs::remove(root() + "/a.bin");  // a file already right would be kept, not copied
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
}

// Only a regular file is opened as a source: a pipe or a device on a medium is refused unopened.
TEST_F(KernelTest, HostileSourceThatIsNoFileIsNeverOpened) {
    ASSERT_EQ(mkfifo((medium() + "/pipe").c_str(), 0644), 0);
    FaultScope counting;
    bool opened = false;  // opening a pipe waits for a writer: only a regular file is opened
    BeforeCall(HostOp::Open, [&](const char* path) {
        opened = opened || (path != nullptr && std::string_view(path).ends_with("pipe"));
        return false;
    });
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\pipe", u"\\pipe", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(fs::exists(root() + "/pipe"));
}

// An entry swapped after its look-up, for a link out of the device or a pipe, right before the
// call that acts on it: nothing outside is changed, and nothing but a regular file is read.
TEST_F(KernelTest, HostileEntrySwappedAfterItsLookupIsNeitherChangedNorRead) {
    fs::create_directories(Outside(top()));
    const std::string outside = Outside(top()) + "/x", target = root() + "/t.txt";
    SetVerify(1);
    // Before the first call after the look-up that names the entry (every change and read of
    // one goes through a descriptor, so that call is an open).
    const auto swapOnOpen = [&](bool pipe) {
        BeforeCall(HostOp::Open, [=](const char* path) {
            if (path == nullptr || !std::string_view(path).ends_with("t.txt")) return false;
            fs::rename(target, target + ".was");
            if (pipe)
                mkfifo(target.c_str(), 0666);
            else
                fs::create_symlink(outside, target);
            return true;
        });
    };
    struct Row {
        const char* what;
        mode_t mode;
        const char* dosattrib;
    } rows[] = {{"read-only cleared", 0444, nullptr}, {"hidden cleared", 0644, "0x2"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (const std::string& p : {outside, target}) {
            fs::remove(p);
            Write(p, p);
            chmod(p.c_str(), row.mode);
            if (row.dosattrib) SetDosAttrib(p, row.dosattrib);
        }
        fs::remove(target + ".was");
        swapOnOpen(false);
        SetFileAttributesW(u"\\t.txt", FILE_ATTRIBUTE_NORMAL);
        struct stat st {};
        ASSERT_EQ(stat(outside.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.mode);
        char value[8] = {};
        if (row.dosattrib) {
            EXPECT_EQ(getxattr(outside.c_str(), "user.DOSATTRIB", value, 8), 3);
        }
        ClearFaults();
    }
    // The read-back opens what it reads only once it is the regular file found: a pipe swapped
    // in fails the read-back at once instead of being opened (which would wait for a writer).
    fs::remove(target);
    Write(medium() + "/a.txt", "a");
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\t.txt", FALSE));
    swapOnOpen(true);
    EXPECT_FALSE(FlushVolumeW(u"\\"));
}

// Every filesystem written since the last flush is read back, one mounted inside the tree too.
TEST_F(KernelTest, HostileReadBackReachesAFilesystemMountedInsideTheTree) {
    fs::create_directories(root() + "/inner");
    if (mount("wce-inner", (root() + "/inner").c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a filesystem here: " << std::strerror(errno);
    SetVerify(1);
    Write(medium() + "/a.bin", std::string(1 << 16, 'a'));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\inner\\a.bin", FALSE));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\a.bin", FALSE));
    Write(root() + "/inner/a.bin", std::string(1 << 16, 'b'));
    EXPECT_FALSE(FlushVolumeW(u"\\"));
    EXPECT_EQ(GetLastError(), ERROR_CRC);
    umount2((root() + "/inner").c_str(), MNT_DETACH);
}

// One claim of a folder at a time, across open descriptions as across processes.
TEST_F(KernelTest, HostileSecondClaimIsRefusedUntilTheFirstEnds) {
    HANDLE first = ClaimFolderW(u"\\");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ClaimFolderW(u"\\"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = ClaimFolderW(u"\\");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

namespace {

// Runs f as the unprivileged user nobody in a child, which then waits until it is killed.
pid_t AsNobody(const std::function<bool()>& f) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const bool ok = setgid(65534) == 0 && setuid(65534) == 0 && f();
        (void)!write(ready[1], ok ? "y" : "n", 1);
        pause();
        _exit(0);
    }
    char c = 'n';
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
    if (c != 'y') {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

void End(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

// Another user who can read the device folder can neither hold its claim nor plant the lock file.
TEST_F(KernelTest, HostileClaimIsNotBlockedByAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    if (!fs::is_directory("/run/lock")) GTEST_SKIP() << "this host has no /run/lock";
    chmod(top().c_str(), 0755);
    chmod(root().c_str(), 0755);
    struct stat st {};
    ASSERT_EQ(stat(root().c_str(), &st), 0);
    char lock[96];
    std::snprintf(lock, sizeof lock, "/run/lock/wce-setup-%llx-%llx.lock",
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    const std::string dir = root(), planted = lock;
    const pid_t holder = AsNobody([&] {
        const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        const int file = open(planted.c_str(), O_RDWR | O_CREAT, 0666);
        return folder >= 0 && flock(folder, LOCK_EX) == 0 &&
               (file < 0 || flock(file, LOCK_EX) == 0);
    });
    ASSERT_GT(holder, 0);
    HANDLE claim = ClaimFolderW(u"\\");
    EXPECT_NE(claim, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(ClaimFolderW(u"\\"), INVALID_HANDLE_VALUE);  // and it still excludes a second install
    CloseHandle(claim);
    End(holder);
    EXPECT_FALSE(fs::exists(planted));
}

// A kept file with another name outside the device is copied, not stamped: the outside file keeps
// its mode, attribute word and time.
TEST_F(KernelTest, HostileKeptFileWithAnotherNameLeavesTheOutsideFileAlone) {
    fs::create_directories(Outside(top()));
    const std::string outside = Outside(top()) + "/same.txt";
    Write(medium() + "/same.txt", "same");
    chmod((medium() + "/same.txt").c_str(), 0444);
    SetDosAttrib(medium() + "/same.txt", "0x2");
    Write(outside, "same");
    fs::create_hard_link(outside, root() + "/same.txt");
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(outside.c_str(), &before), 0);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\same.txt", u"\\same.txt", FALSE)) << GetLastError();
    ASSERT_EQ(stat(outside.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_nlink, 1u);
    char value[8] = {};
    EXPECT_LT(getxattr(outside.c_str(), "user.DOSATTRIB", value, sizeof value), 0);
    EXPECT_EQ(Read(root() + "/same.txt"), "same");
}

// The sweep looks at a temporary's name before opening it: a device or pipe named like one is
// neither opened nor removed.
TEST_F(KernelTest, HostileSweepNeverOpensWhatIsNoFile) {
    fs::create_directories(root() + "/d");
    const std::string node = root() + "/d/.wce-copy-1-1.tmp",
                      pipe = root() + "/d/.wce-copy-1-2.tmp";
    ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    Write(medium() + "/a.txt", "a");
    Write(root() + "/d/a.txt", "old");
    static int opened;
    opened = 0;
    BeforeCall(HostOp::Open, [](const char* path) {
        opened += path != nullptr && std::string_view(path).starts_with(".wce-copy-1-");
        return false;
    });
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\d\\a.txt", FALSE)) << GetLastError();
    ClearFaults();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(fs::exists(node) && fs::exists(pipe));
}

// An immutable file on the card is that file's failure: the install names it, and the next file
// still gets its read-only bit and time (nothing is learnt of the filesystem from it).
TEST_F(KernelTest, HostileImmutableFileFailsAloneAndTeachesNothing) {
    Write(medium() + "/a.txt", "a");
    Write(medium() + "/b.txt", "b");
    for (const char* f : {"/a.txt", "/b.txt"}) chmod((medium() + f).c_str(), 0444);
    Write(root() + "/a.txt", "a");  // the same bytes, but writable: the keep stamps it
    const int fd = open((root() + "/a.txt").c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    if (fd < 0 || ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        if (fd >= 0) close(fd);
        GTEST_SKIP() << "this filesystem keeps no immutable flag";
    }
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\a.txt", u"\\a.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    flags = 0;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\b.txt", u"\\b.txt", FALSE)) << GetLastError();
    EXPECT_EQ(GetFileAttributesW(u"\\b.txt") & FILE_ATTRIBUTE_READONLY,
              DWORD{FILE_ATTRIBUTE_READONLY});
}

// What changes behind a compare or a read-back is not taken for the card's answer: a target
// rewritten during the compare is copied, not kept; a package file changed before the read-back
// is named as the package's; a device folder replaced fails the read-back; a failed copy leaves
// the others' read-back due.
TEST_F(KernelTest, HostileChangesBehindCompareAndReadBackAreNamed) {
    struct Listener : Activity {
        int kept = 0;
        std::u16string failed;
        void FileKept(std::u16string_view, std::u16string_view, std::uint64_t) override { ++kept; }
        void Failed(const Failure& f) override { failed = f.path; }
    } listener;
    SetActivity(&listener);
    SetVerify(1);
    Write(medium() + "/a.txt", "aaaa");
    Write(root() + "/a.txt", "aaaa");
    static std::string rewrite;
    rewrite = root() + "/a.txt";
    SetIdleHook([] {
        if (!rewrite.empty()) Write(std::exchange(rewrite, ""), "bbbb");
    });
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\a.txt", FALSE)) << GetLastError();
    SetIdleHook(nullptr);
    EXPECT_EQ(listener.kept, 0);
    EXPECT_EQ(Read(root() + "/a.txt"), "aaaa");
    ASSERT_TRUE(FlushVolumeW(u"\\"));

    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\b.txt", FALSE));
    Write(medium() + "/a.txt", "ccccc");
    EXPECT_FALSE(FlushVolumeW(u"\\"));
    EXPECT_EQ(listener.failed, u"\\Storage Card\\a.txt");

    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\c.txt", FALSE));
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\a.txt", u"\\b.txt", TRUE));  // exists: fails alone
    Write(root() + "/c.txt", "xxxxx");
    EXPECT_FALSE(FlushVolumeW(u"\\"));
    EXPECT_EQ(GetLastError(), ERROR_CRC);

    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\d.txt", FALSE));
    fs::rename(root(), top() + "/was-root");
    fs::create_directories(root());
    Write(root() + "/d.txt", "ccccc");
    EXPECT_FALSE(FlushVolumeW(u"\\"));
}

// On FAT a pull can leave a temporary under its 8.3 alias alone: the sweep takes that form there,
// and only there; a name merely like it stays.
TEST_F(KernelTest, HostileSweepTakesATemporarysAliasOnlyOnFat) {
    Write(medium() + "/a.txt", "a");
    for (bool fat : {false, true}) {
        SCOPED_TRACE(fat);
        RealHost();
        if (fat) {
            host::Table().fstatfs = [](int, struct statfs* st) {
                std::memset(st, 0, sizeof *st);
                st->f_type = MSDOS_SUPER_MAGIC;
                return 0;
            };
            host::Table().ioctl = [](int, unsigned long request, void* arg) {
                if (request == FAT_IOCTL_GET_ATTRIBUTES) *static_cast<uint32_t*>(arg) = 0;
                return request == FAT_IOCTL_GET_ATTRIBUTES || request == FAT_IOCTL_SET_ATTRIBUTES
                           ? 0
                           : (errno = ENOTTY, -1);
            };
        }
        const std::string dir = root() + (fat ? "/fat" : "/other");
        fs::create_directories(dir);
        for (const char* n : {"/WCE-CO~1.TMP", "/WCE-CO~X.TMP", "/NOTES.TMP"}) Write(dir + n, "x");
        Write(dir + "/a.txt", "old");
        ASSERT_TRUE(
            CopyFileW(u"\\Storage Card\\a.txt", fat ? u"\\fat\\a.txt" : u"\\other\\a.txt", FALSE))
            << GetLastError();
        EXPECT_EQ(fs::exists(dir + "/WCE-CO~1.TMP"), !fat);
        EXPECT_TRUE(fs::exists(dir + "/WCE-CO~X.TMP") && fs::exists(dir + "/NOTES.TMP"));
    }
}
