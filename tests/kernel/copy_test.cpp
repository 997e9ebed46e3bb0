// File copy: replacement rules, carried attributes, data paths and failures without torn files.
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "platform/kernel/activity.h"
#include "tests/support/call_budgets.h"
#include "tests/support/scratch_device.h"

using namespace wce::kernel;
using wce::test::ExpectWithin;
namespace budget = wce::test::budget;

namespace {
// A folder whose time stamps stay as they were, as on a host clock too coarse to show a change.
struct stat g_frozen {};
int FrozenStat(int dirfd, const char* path, struct stat* st, int flags) {
    const int r = ::fstatat(dirfd, path, st, flags);
    if (r == 0 && st->st_ino == g_frozen.st_ino && st->st_dev == g_frozen.st_dev) *st = g_frozen;
    return r;
}
// Hosts that name unnamed files only through /proc, or not at all, or have none.
int OldKernelLink(int od, const char* op, int nd, const char* np, int f) {
    if (f & AT_EMPTY_PATH) {
        errno = ENOENT;
        return -1;
    }
    return ::linkat(od, op, nd, np, f);
}
int NoLink(int, const char*, int, const char*, int) {
    errno = EPERM;
    return -1;
}
int NoUnnamedOpen(int d, const char* p, int f, mode_t m) {
    if ((f & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::openat(d, p, f, m);
}
}  // namespace

// A new file gets its name only when complete, whatever way the host offers, and keeps the
// source's attributes and last-write time; nothing is left beside it.
TEST_F(KernelTest, CopyNamesNewFilesWhateverTheHostAllows) {
    Write(medium() + "/src.txt", "new");
    SetDosAttrib(medium() + "/src.txt", "0x2");
    const struct timespec written[2] = {{0, UTIME_OMIT}, {981173106, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (medium() + "/src.txt").c_str(), written, 0), 0);
    chmod((medium() + "/src.txt").c_str(), 0444);
    struct Row {
        const char* name;
        void (*prepare)();
    } rows[] = {
        {"by descriptor", [] {}},
        {"through proc", [] { host::Table().linkat = OldKernelLink; }},
        {"named temporary when linking is refused", [] { host::Table().linkat = NoLink; }},
        {"named temporary without unnamed files", [] { host::Table().openat = NoUnnamedOpen; }},
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        RealHost();
        r.prepare();
        const std::string dir = root() + "/d" + std::to_string(n++);
        fs::create_directories(dir);
        const std::string host = dir.substr(root().size()) + "/copy.txt";
        std::u16string dst(host.begin(), host.end());
        for (auto& c : dst) c = c == u'/' ? u'\\' : c;
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), FALSE));
        EXPECT_EQ(Read(dir + "/copy.txt"), "new");
        EXPECT_EQ(GetFileAttributesW(dst.c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
        struct stat st {};
        ASSERT_EQ(stat((dir + "/copy.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, written[1].tv_sec);
        EXPECT_EQ(st.st_mtim.tv_nsec, written[1].tv_nsec);
        EXPECT_EQ(CountEntries(dir), 1);
        // Copying it again onto the same name fails as the device's copy does, and keeps it.
        EXPECT_FALSE(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), TRUE));
        EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    }
}

TEST_F(KernelTest, CopyReplacementRules) {
    Write(medium() + "/src.txt", "new");
    struct Row {
        const char* name;
        void (*prepare)(const std::string& target);
        BOOL failIfExists;
        BOOL ok;
        DWORD err;
        const char* after;  // target content afterwards, "" = missing, "<dir>" = a folder
    } rows[] = {
        {"fresh", [](const std::string&) {}, FALSE, TRUE, 0, "new"},
        {"plain", [](const std::string& t) { Write(t, "old"); }, FALSE, TRUE, 0, "new"},
        {"readonly",
         [](const std::string& t) {
             Write(t, "old");
             chmod(t.c_str(), 0444);
         },
         FALSE, FALSE, ERROR_ACCESS_DENIED, "old"},
        {"hidden",
         [](const std::string& t) {
             Write(t, "old");
             SetDosAttrib(t, "0x2");
         },
         FALSE, FALSE, ERROR_ACCESS_DENIED, "old"},
        {"exists", [](const std::string& t) { Write(t, "old"); }, TRUE, FALSE, ERROR_FILE_EXISTS,
         "old"},
        {"folder", [](const std::string& t) { fs::create_directories(t); }, FALSE, FALSE,
         ERROR_ACCESS_DENIED, "<dir>"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string target = root() + "/" + r.name;
        r.prepare(target);
        std::u16string dst = u"\\" + std::u16string(r.name, r.name + strlen(r.name));
        EXPECT_EQ(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), r.failIfExists), r.ok);
        if (!r.ok) {
            EXPECT_EQ(GetLastError(), r.err);
        }
        EXPECT_EQ(fs::is_directory(target) ? "<dir>" : Read(target), r.after);
    }
    EXPECT_EQ(CountEntries(root()), 6);  // no temporary file left anywhere
    // The reset the tree copy does first makes a refused target replaceable.
    for (const char16_t* t : {u"\\readonly", u"\\hidden"}) {
        ASSERT_TRUE(SetFileAttributesW(t, FILE_ATTRIBUTE_NORMAL));
        EXPECT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", t, FALSE));
    }
    EXPECT_EQ(Read(root() + "/readonly"), "new");
}

TEST_F(KernelTest, CopyOntoItselfFailsWithoutTouchingIt) {
    Write(root() + "/a.txt", "data");
    ASSERT_EQ(link((root() + "/a.txt").c_str(), (root() + "/b.txt").c_str()), 0);
    for (const char16_t* dst : {u"\\a.txt", u"\\A.TXT", u"\\b.txt"}) {
        SCOPED_TRACE(static_cast<int>(dst[1]));
        EXPECT_FALSE(CopyFileW(u"\\a.txt", dst, FALSE));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(Read(root() + "/a.txt"), "data");
    }
    EXPECT_EQ(CountEntries(root()), 2);
}

TEST_F(KernelTest, CopyCarriesHiddenAndReadOnlyButNothingElse) {
    Write(medium() + "/s.txt", "x");
    chmod((medium() + "/s.txt").c_str(), 0555);
    SetDosAttrib(medium() + "/s.txt", "0x2");
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\s.txt", u"\\t.txt", FALSE));
    EXPECT_EQ(GetFileAttributesW(u"\\t.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(fs::status(root() + "/t.txt").permissions() & fs::perms::owner_exec, fs::perms::none);
    Write(medium() + "/p.txt", "x");
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\p.txt", u"\\p.txt", FALSE));
    EXPECT_EQ(GetFileAttributesW(u"\\p.txt"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(KernelTest, CopyDataPathsGiveIdenticalFiles) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 rng(7);
    for (auto& c : big) c = static_cast<char>(rng());
    Write(medium() + "/big.bin", big);
    Write(medium() + "/empty.bin", "");
    struct Row {
        const char* name;
        bool forceReadWrite;
    } rows[] = {{"fast", false}, {"fallback", true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ConfigureDevice(CurrentDevice());  // forget which fast paths the device refused
        FaultScope faults;
        if (r.forceReadWrite) {
            faults.Fail(HostOp::Ioctl, 1, EOPNOTSUPP);
            faults.Fail(HostOp::CopyRange, 1, EXDEV);
            faults.Fail(HostOp::Read, 1, EINTR);   // a signal interrupts the first read and write:
            faults.Fail(HostOp::Write, 1, EINTR);  // both are made again
        }
        std::u16string dst = u"\\" + std::u16string(r.name, r.name + strlen(r.name));
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\big.bin", dst.c_str(), FALSE));
        EXPECT_TRUE(Read(root() + "/" + r.name) == big);
        EXPECT_EQ(HostCallCount(HostOp::Write) > 0, r.forceReadWrite);
        EXPECT_EQ(FaultsFired(HostOp::Read) + FaultsFired(HostOp::Write), r.forceReadWrite ? 2 : 0);
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\empty.bin", (dst + u".0").c_str(), FALSE));
        EXPECT_EQ(Read(root() + "/" + r.name + ".0"), "");
    }
    // A refused clone is asked once per device pair, not once per file.
    ConfigureDevice(CurrentDevice());
    ClearFaults();
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\big.bin", u"\\again1", FALSE));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\big.bin", u"\\again2", FALSE));
    ExpectWithin(budget::kCloneTriedOnce);
}

TEST_F(KernelTest, CopyFailureKeepsOldTargetAndLeavesNoTemporary) {
    Write(medium() + "/src.txt", std::string(100000, 'n'));
    Write(medium() + "/hidden.txt", "h");
    SetDosAttrib(medium() + "/hidden.txt", "0x2");
    struct Row {
        const char* what;
        HostOp op;
        int err;
        bool forceReadWrite;
        const char16_t* source;
        DWORD lastError;
    } rows[] = {
        {"copy range full", HostOp::CopyRange, ENOSPC, false, u"\\Storage Card\\src.txt",
         ERROR_DISK_FULL},
        {"write full", HostOp::Write, ENOSPC, true, u"\\Storage Card\\src.txt", ERROR_DISK_FULL},
        {"rename", HostOp::Rename, EIO, false, u"\\Storage Card\\src.txt", ERROR_GEN_FAILURE},
        {"close", HostOp::Close, EIO, false, u"\\Storage Card\\src.txt", ERROR_GEN_FAILURE},
        {"attributes", HostOp::SetXattr, ENOSPC, false, u"\\Storage Card\\hidden.txt",
         ERROR_DISK_FULL},
        {"source read", HostOp::Read, EIO, true, u"\\Storage Card\\src.txt", ERROR_GEN_FAILURE},
        {"temp create", HostOp::Open, EACCES, false, u"\\Storage Card\\src.txt",
         ERROR_ACCESS_DENIED},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Write(root() + "/t.txt", "old");
        ConfigureDevice(CurrentDevice());
        FaultScope faults;
        if (r.forceReadWrite) faults.Fail(HostOp::CopyRange, 1, EXDEV);
        // Opening the source is the first Open; the temporary file is the second. Every close
        // fails, so that the temporary's, the one whose failure counts, is among them.
        faults.Fail(r.op, r.op == HostOp::Open ? 2 : 1, r.err, r.op == HostOp::Close);
        EXPECT_FALSE(CopyFileW(r.source, u"\\t.txt", FALSE));
        EXPECT_EQ(GetLastError(), r.lastError);
        EXPECT_EQ(Read(root() + "/t.txt"), "old");
        EXPECT_EQ(CountEntries(root()), 1);
    }
}

// A target missing from the folder's name table is created without replacing; one that is there
// after all is checked like any existing target rather than replaced blindly.
TEST_F(KernelTest, CopyOntoANameTheFolderTableMissed) {
    Write(medium() + "/src.txt", "new");
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", u"\\first.txt", FALSE));
    ASSERT_EQ(stat(root().c_str(), &g_frozen), 0);
    host::Table().fstatat = FrozenStat;
    struct Row {
        const char* name;
        const char* attrib;  // DOSATTRIB value, or null
        mode_t mode;
        BOOL ok;
        const char* after;
    } rows[] = {
        {"plain", nullptr, 0644, TRUE, "new"},
        {"readonly", nullptr, 0444, FALSE, "old"},
        {"hidden", "0x2", 0644, FALSE, "old"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string target = root() + "/" + r.name;
        Write(target, "old");
        chmod(target.c_str(), r.mode);
        if (r.attrib) SetDosAttrib(target, r.attrib);
        std::u16string dst = u"\\" + std::u16string(r.name, r.name + strlen(r.name));
        EXPECT_EQ(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), FALSE), r.ok);
        if (!r.ok) {
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        }
        EXPECT_EQ(Read(target), r.after);
    }
    EXPECT_EQ(CountEntries(root()), 4);  // no temporary file left behind
}

namespace {
// A host whose filesystem refuses one optional call with g_refusal; each refusal is counted.
int g_refusal = 0;
int g_refused = 0;
int Refuse() {
    ++g_refused;
    errno = g_refusal;
    return -1;
}
void RefuseExclusiveRename() {
    host::Table().renameat2 = [](int od, const char* op, int nd, const char* np, unsigned f) {
        return f != 0 ? Refuse() : ::renameat2(od, op, nd, np, f);
    };
}
void RefuseUnnamed() {
    host::Table().openat = [](int d, const char* p, int f, mode_t m) {
        return (f & O_TMPFILE) == O_TMPFILE ? Refuse() : ::openat(d, p, f, m);
    };
}
void RefuseLinks() {
    host::Table().linkat = [](int, const char*, int, const char*, int) { return Refuse(); };
}
}  // namespace

// Where the filesystem has no exclusive rename and no unnamed files (NTFS and FAT through FUSE),
// files copied into a folder the process made are renamed into place, one call each once the
// refusals are known, not linked and unlinked; copies that must not replace still find the name
// taken.
TEST_F(KernelTest, CopyIntoAMadeFolderRenamesWithoutExclusiveRename) {
    Write(medium() + "/src.txt", "new");
    g_refusal = EINVAL;
    RefuseUnnamed();
    RefuseExclusiveRename();
    ASSERT_TRUE(CreateDirectoryW(u"\\made", nullptr));
    ASSERT_TRUE(
        CopyFileW(u"\\Storage Card\\src.txt", u"\\made\\a.txt", FALSE));  // learns the refusals
    ClearFaults();
    for (const char16_t* dst : {u"\\made\\b.txt", u"\\made\\c.txt"})
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", dst, FALSE));
    ExpectWithin(budget::kOnePlacingCallEach);
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\src.txt", u"\\made\\A.TXT", TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(Read(root() + "/made/c.txt"), "new");
    EXPECT_EQ(CountEntries(root() + "/made"), 3);
}

// A reinstall replaces files that exist as spelled: their folder's table, relisted every 50 ms
// while the folder is being filled, is not needed to find them.
TEST_F(KernelTest, CopyOntoExistingFilesDoesNotRelistTheirFolder) {
    Write(medium() + "/src.txt", "new");
    for (const char* f : {"a", "b", "c", "d"}) Write(root() + "/r/" + f + ".txt", "old");
    ClearFaults();
    for (const char16_t* dst : {u"\\r\\a.txt", u"\\r\\b.txt", u"\\r\\c.txt", u"\\r\\d.txt"}) {
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", dst, FALSE));
        Advance(60'000'000);
    }
    ExpectWithin(budget::kReplacingListsOnce);
}

// Each optional call refused as filesystems refuse it: the copy still succeeds with the same
// guarantees (whole files, nothing left beside them, exclusive creation where asked), and the
// refused call is not tried again for the next file.
TEST_F(KernelTest, CopyFallsBackWhenTheFilesystemRefusesAFeature) {
    Write(medium() + "/src.txt", "new");
    SetDosAttrib(medium() + "/src.txt", "0x2");
    struct Row {
        const char* feature;
        int err;
        void (*refuse)();
        int calls = 1;  // refused calls in all: one for each feature, by each way it is tried
    } rows[] = {
        {"unnamed files, exclusive rename", EINVAL,
         [] {
             RefuseUnnamed();
             RefuseExclusiveRename();
         },
         2},
        {"unnamed files, exclusive rename", ENOSYS,
         [] {
             RefuseUnnamed();
             RefuseExclusiveRename();
         },
         2},
        {"unnamed files, exclusive rename, links", EOPNOTSUPP,
         [] {
             RefuseUnnamed();
             RefuseExclusiveRename();
             RefuseLinks();
         },
         3},
        {"unnamed files, exclusive rename, links", EXDEV,
         [] {
             RefuseUnnamed();
             RefuseExclusiveRename();
             RefuseLinks();
         },
         3},
        {"unnamed files", EOPNOTSUPP, RefuseUnnamed},
        {"unnamed files", EISDIR, RefuseUnnamed},
        {"unnamed files", EINVAL, RefuseUnnamed},
        {"naming unnamed files", EPERM, RefuseLinks, 2},
        {"clone", ENOTTY,
         [] { host::Table().ioctl = [](int, unsigned long, void*) { return Refuse(); }; }},
        {"clone", EXDEV,
         [] { host::Table().ioctl = [](int, unsigned long, void*) { return Refuse(); }; }},
        {"copy range", ENOSYS,
         [] {
             host::Table().copy_file_range = [](int, off_t*, int, size_t) -> ssize_t {
                 return Refuse();
             };
         }},
        {"copy range", EXDEV,
         [] {
             host::Table().copy_file_range = [](int, off_t*, int, size_t) -> ssize_t {
                 return Refuse();
             };
         }},
        {"extended attributes", ENOTSUP,
         [] {
             host::Table().fsetxattr = [](int, const char*, const void*, size_t, int) {
                 return Refuse();
             };
         }},
        {"permissions", EPERM, [] { host::Table().fchmod = [](int, mode_t) { return Refuse(); }; }},
        {"permissions", ENOSYS,
         [] { host::Table().fchmod = [](int, mode_t) { return Refuse(); }; }},
        {"syncfs", ENOSYS, [] { host::Table().syncfs = [](int) { return Refuse(); }; }},
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.feature) + " refused with " + strerrorname_np(r.err));
        RealHost();
        chmod((medium() + "/src.txt").c_str(), r.err == EPERM || r.err == ENOSYS ? 0444 : 0644);
        g_refusal = r.err;
        g_refused = 0;
        r.refuse();
        const std::string dir = "/d" + std::to_string(n++);
        fs::create_directories(root() + dir);
        Write(root() + dir + "/old.txt", "old");
        for (const char* name : {"/a.txt", "/b.txt", "/old.txt"}) {
            std::string host = dir + name;
            std::u16string dst(host.begin(), host.end());
            std::replace(dst.begin(), dst.end(), u'/', u'\\');
            ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), FALSE)) << name;
            EXPECT_EQ(Read(root() + host), "new");
            EXPECT_FALSE(CopyFileW(u"\\Storage Card\\src.txt", dst.c_str(), TRUE));
            EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
        }
        EXPECT_EQ(CountEntries(root() + dir), 3);
        EXPECT_TRUE(FlushVolumeW(u"\\"));
        EXPECT_TRUE(FlushVolumeW(u"\\"));
        EXPECT_EQ(g_refused, r.calls);
    }
}

// Where read-back applies, a target the card already holds right is proven by reading it and
// kept, not written again, and ends as a copy would leave it; any difference is copied.
TEST_F(KernelTest, CopyKeepsATargetTheCardAlreadyHoldsRight) {
    struct Listener : Activity {
        int copied = 0, kept = 0;
        void FileCopied(std::u16string_view, std::u16string_view, std::uint64_t) override {
            ++copied;
        }
        void FileKept(std::u16string_view, std::u16string_view, std::uint64_t) override { ++kept; }
    } listener;
    SetActivity(&listener);
    const std::string src = medium() + "/a.bin", dst = root() + "/a.bin";
    const struct timespec written[2] = {{0, UTIME_OMIT}, {981173106, 0}};
    const auto source = [&](char fill) {
        Write(src, std::string(200000, fill));
        ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), written, 0), 0);
    };
    source('a');
    struct Row {
        const char* what;
        int verify;
        std::function<void()> change;
        bool kept;
    } rows[] = {
        {"unchanged", 1, [] {}, true},
        {"the package's file changed", 1, [&] { source('b'); }, false},
        {"the installed file changed behind its back", 1,
         [&] { Write(dst, std::string(200000, 'c')); }, false},
        {"made plain, as the install does before copying", 1, [&] { chmod(dst.c_str(), 0644); },
         true},
        {"read-back off", 0, [] {}, false},
    };
    chmod(src.c_str(), 0444);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\a.bin", FALSE));  // the first install
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetVerify(row.verify);
        chmod(src.c_str(), 0644);
        row.change();
        chmod(src.c_str(), 0444);
        SetFileAttributesW(u"\\a.bin", FILE_ATTRIBUTE_NORMAL);
        listener = {};
        ClearFaults();  // counts from here
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\a.bin", FALSE)) << GetLastError();
        ASSERT_TRUE(FlushVolumeW(u"\\")) << GetLastError();
        EXPECT_EQ(listener.kept, row.kept ? 1 : 0);
        EXPECT_EQ(listener.copied, row.kept ? 0 : 1);
        if (row.kept) ExpectWithin(budget::kKeptIsNotWritten);
        EXPECT_EQ(Read(dst), Read(src));
        EXPECT_EQ(GetFileAttributesW(u"\\a.bin"), FILE_ATTRIBUTE_READONLY);
        struct stat st {};
        ASSERT_EQ(stat(dst.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, written[1].tv_sec);
    }
}

// A name another process takes between the look-up and the placing is judged again as a target:
// a read-only file there is refused, not replaced; and each copy read back at the flush is read
// past the host's cache.
TEST_F(KernelTest, CopyTargetTakenWhilePlacingIsJudgedAgainAndReadBackDropsCaches) {
    Write(medium() + "/a.txt", "ours");
    const std::string target = root() + "/t.txt";
    BeforeCall(HostOp::Link, [&](const char*) {
        Write(target, "theirs");
        chmod(target.c_str(), 0444);
        return true;
    });
    BeforeCall(HostOp::Rename, [&](const char*) {
        if (!fs::exists(target)) {
            Write(target, "theirs");
            chmod(target.c_str(), 0444);
        }
        return true;
    });
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\a.txt", u"\\t.txt", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read(target), "theirs");
    SetVerify(1);
    for (const char16_t* to : {u"\\1.txt", u"\\2.txt", u"\\3.txt"})
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", to, FALSE)) << GetLastError();
    ClearFaults();
    ASSERT_TRUE(FlushVolumeW(u"\\")) << GetLastError();
    ExpectWithin(budget::kReadBackDropsCaches);
}
