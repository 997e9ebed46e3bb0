// Where device paths land on the host: mapping, confinement and case-insensitive lookup.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>

#include <string>

#include "tests/support/call_budgets.h"
#include "tests/support/scratch_device.h"

using namespace wce::kernel;

TEST_F(KernelTest, NamespaceMapsRootAndMediumAndStaysInside) {
    Write(root() + "/ROMDisk/x.txt", "r");
    Write(medium() + "/SETUP.INI", "m");
    Write(top() + "/secret.txt", "outside");
    struct Row {
        std::u16string path;
        std::string host;  // empty: must not resolve to an existing host file
    } rows[] = {
        {u"\\ROMDisk\\x.txt", root() + "/ROMDisk/x.txt"},
        {u"\\Storage Card\\SETUP.INI", medium() + "/SETUP.INI"},
        {u"\\storage card\\setup.ini", medium() + "/SETUP.INI"},
        {u"\\..\\secret.txt", ""},
        {u"\\Storage Card\\..\\..\\secret.txt", ""},
        {u"\\ROMDisk\\..\\..\\..\\root\\ROMDisk\\x.txt", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path.begin(), r.path.end()));
        auto host = HostPathOf(r.path);
        if (r.host.empty()) {
            EXPECT_TRUE(!host || !fs::exists(*host) ||
                        fs::canonical(*host).string().rfind(top() + "/root", 0) == 0);
            EXPECT_EQ(GetFileAttributesW(r.path.c_str()), INVALID_FILE_ATTRIBUTES);
        } else {
            ASSERT_TRUE(host);
            EXPECT_EQ(*host, r.host);
        }
    }
}

// Folders resolved are remembered: every spelling of them, and a folder replaced meanwhile, still
// resolve to what stands there.
TEST_F(KernelTest, NamespaceRemembersFoldersYetFindsThemReplaced) {
    Write(root() + "/a/b/x", "b");
    Write(root() + "/a/c/x", "c");
    Write(root() + "/a/x", "a");
    const auto host = [](const char16_t* path) { return HostPathOf(path).value_or("-"); };
    for (int round = 0; round < 2; ++round) {  // the second round meets what the first left
        EXPECT_EQ(host(u"\\a\\b\\x"), root() + "/a/b/x");
        EXPECT_EQ(host(u"\\a\\c\\x"), root() + "/a/c/x");
        EXPECT_EQ(host(u"\\a\\b\\..\\c\\x"), root() + "/a/c/x");
        EXPECT_EQ(host(u"\\a\\b\\..\\x"), root() + "/a/x");
        EXPECT_EQ(host(u"\\A\\B\\x"), root() + "/a/b/x");
        EXPECT_EQ(host(u"\\a\\b\\.\\x"), root() + "/a/b/x");
        EXPECT_EQ(host(u"\\a\\b\\.."), root() + "/a");
    }
    fs::rename(root() + "/a/b", root() + "/a/old");
    fs::rename(root() + "/a/c", root() + "/a/B");
    Advance(kNextTick);  // another process's change is seen from the next tick on
    EXPECT_EQ(host(u"\\a\\b\\x"), root() + "/a/B/x");
}

TEST_F(KernelTest, NamespaceLinksLeadingOutAreRefusedLinksInsideFollowed) {
    Write(top() + "/outside/secret.txt", "secret");
    Write(root() + "/inside/real.txt", "real");
    fs::create_directory_symlink(top() + "/outside", root() + "/escape");
    fs::create_symlink(top() + "/outside/secret.txt", root() + "/leak.txt");
    fs::create_symlink("../../outside/secret.txt", root() + "/inside/rel.txt");
    fs::create_directory_symlink(root() + "/inside", medium() + "/pkg");
    fs::create_symlink("real.txt", root() + "/inside/alias.txt");
    struct Row {
        const char16_t* path;
        bool readable;
    } rows[] = {
        {u"\\escape\\secret.txt", false}, {u"\\leak.txt", false},
        {u"\\inside\\rel.txt", false},    {u"\\Storage Card\\pkg\\real.txt", true},
        {u"\\inside\\alias.txt", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path, r.path + std::char_traits<char16_t>::length(r.path)));
        HANDLE h =
            CreateFileW(r.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.readable);
        if (h != INVALID_HANDLE_VALUE) {
            char buf[8] = {};
            DWORD n = 0;
            EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
            EXPECT_EQ(std::string(buf, n), "real");
            CloseHandle(h);
        }
        // A query handle opens no data, but is confined alike.
        HANDLE q = CreateFileW(r.path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        EXPECT_EQ(q != INVALID_HANDLE_VALUE, r.readable);
        if (q != INVALID_HANDLE_VALUE) CloseHandle(q);
        EXPECT_FALSE(CopyFileW(r.path, u"\\copy.txt", FALSE) && !r.readable);
    }
    EXPECT_FALSE(fs::exists(root() + "/copy.txt") && Read(root() + "/copy.txt") == "secret");
    // Enumeration shows entries that lead out as plain empty files, so a walk meets them (their
    // copy fails) instead of leaving them out unnoticed; nothing of what they lead to shows.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::u16string seen;
    do {
        seen += std::u16string(fd.cFileName) + u";";
        if (fd.cFileName[0] == u'e' || fd.cFileName[0] == u'l') {
            EXPECT_EQ(fd.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
            EXPECT_EQ(fd.nFileSizeLow, 0u);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    EXPECT_EQ(seen, u"copy.txt;escape;inside;leak.txt;");

    // Mapped at the host's own root, an absolute link inside is followed from there, whole.
    fs::create_symlink(root() + "/inside/real.txt", root() + "/inside/abs.txt");
    MapRoot("/");
    std::u16string abs;
    for (char c : root() + "/inside/abs.txt") abs += c == '/' ? u'\\' : char16_t(c);
    EXPECT_NE(GetFileAttributesW(abs.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(KernelTest, NamespaceLookupIgnoresCaseButPrefersExactName) {
    Write(root() + "/romdisk2/program/setapp/a.txt", "lower");
    Write(root() + "/Mixed/File.TXT", "upper");
    Write(root() + "/Mixed/file.txt", "lower");
    struct Row {
        const char16_t* path;
        const char* content;
    } rows[] = {
        {u"\\ROMDisk2\\PROGRAM\\SETAPP\\A.TXT", "lower"},
        {u"\\MIXED\\File.TXT", "upper"},
        {u"\\mixed\\file.txt", "lower"},
        {u"\\MIXED\\FILE.TXT", "upper"},  // no exact match: the byte-order first of the two
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.content);
        auto host = HostPathOf(r.path);
        ASSERT_TRUE(host);
        EXPECT_EQ(Read(*host), r.content);
    }
    // Copying onto a name that differs only in case replaces it instead of adding a second file.
    Write(medium() + "/README.TXT", "new");
    Write(root() + "/romdisk2/program/setapp/readme.txt", "old");
    Advance(kNextTick);
    EXPECT_TRUE(GetFileAttributesW(u"\\ROMDisk2\\PROGRAM\\SETAPP\\README.TXT") !=
                INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\README.TXT", u"\\ROMDisk2\\PROGRAM\\SETAPP\\README.TXT",
                          FALSE));
    EXPECT_EQ(Read(root() + "/romdisk2/program/setapp/readme.txt"), "new");
    EXPECT_EQ(CountEntries(root() + "/romdisk2/program/setapp"), 2);
}

TEST_F(KernelTest, NamespaceSeesChangesMadeBehindItsBack) {
    fs::create_directories(root() + "/d");
    EXPECT_EQ(GetFileAttributesW(u"\\D\\NEW.TXT"), INVALID_FILE_ATTRIBUTES);
    Write(root() + "/d/new.txt", "x");
    Advance(kNextTick);  // another process's change is seen from the next tick on
    EXPECT_EQ(GetFileAttributesW(u"\\D\\NEW.TXT"), FILE_ATTRIBUTE_NORMAL);
    // A cached folder replaced by one spelt differently is found again.
    fs::remove_all(root() + "/d");
    Write(root() + "/D/new.txt", "x");
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\new.txt"), FILE_ATTRIBUTE_NORMAL);
    fs::remove(root() + "/D/new.txt");
    Stamp(root() + "/D");
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\new.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(KernelTest, NamespaceRejectsLongAndMalformedPaths) {
    std::u16string longName(300, u'a');
    std::u16string longPath = u"\\d\\" + std::u16string(257, u'b');
    struct Row {
        std::u16string path;
        DWORD err;
    } rows[] = {
        {u"\\" + longName, ERROR_FILENAME_EXCED_RANGE},
        {longPath, ERROR_FILENAME_EXCED_RANGE},
        {u"\\missing\\x.txt", ERROR_PATH_NOT_FOUND},
        {u"\\x.txt", ERROR_FILE_NOT_FOUND},
        {u"relative.txt", ERROR_INVALID_NAME},
        {u"\\a/b", ERROR_INVALID_NAME},
        {u"\\a:b", ERROR_INVALID_NAME},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path.begin(), r.path.end()).substr(0, 30));
        EXPECT_EQ(GetFileAttributesW(r.path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), r.err);
    }
}

TEST_F(KernelTest, NamespaceNamesRoundTripThroughEnumerationAndCopy) {
    const std::string hostNames[] = {"bad\xFF.txt", "q?s:t*.txt", "\xF0\x9F\x98\x80.txt",
                                     "\xE6\x97\xA5\xE6\x9C\xAC"};
    for (const auto& n : hostNames) Write(medium() + "/src/" + n, n);
    fs::create_directories(root() + "/dst");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\Storage Card\\src\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int count = 0;
    do {
        ++count;
        std::u16string name = fd.cFileName;
        SCOPED_TRACE(count);
        EXPECT_TRUE(CopyFileW((u"\\Storage Card\\src\\" + name).c_str(),
                              (u"\\dst\\" + name).c_str(), FALSE));
        if (name[0] >= 0xD800 && name[0] <= 0xDBFF) {
            EXPECT_EQ(name.size(), 6u);  // 2 units + .txt
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    EXPECT_EQ(count, 4);
    for (const auto& n : hostNames) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Read(root() + "/dst/" + n), n);
    }
}

namespace {
// A folder whose stamps the test sets, on a filesystem with fine or coarse stamps: the freshness
// rule stepped through without sleeping.
constexpr int64_t kSecond = 1'000'000'000;
long g_fsType = 0;  // what fstatfs reports; 0: what the host says
ino_t g_dir = 0;
struct timespec g_stamp {};
int StampedStat(int dirfd, const char* path, struct stat* st, int flags) {
    int r = ::fstatat(dirfd, path, st, flags);
    if (r == 0 && st->st_ino == g_dir) st->st_mtim = st->st_ctim = g_stamp;
    return r;
}
int StatFsOf(int fd, struct statfs* st) {
    int r = ::fstatfs(fd, st);
    if (r == 0 && g_fsType != 0) st->f_type = g_fsType;
    return r;
}
// A folder that folds case (ext4's chattr +F) on a filesystem whose other folders keep it; 0: a
// host that ignores case in every folder.
ino_t g_folding = 0;
int FoldingStat(int dirfd, const char* path, struct stat* st, int flags) {
    struct stat dir {};
    if (::fstatat(dirfd, path, st, flags) == 0) return 0;
    const int err = errno;
    if (err == ENOENT && ::fstat(dirfd, &dir) == 0 && (g_folding == 0 || dir.st_ino == g_folding)) {
        std::string lower(path);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return ::fstatat(dirfd, lower.c_str(), st, flags);
    }
    errno = err;
    return -1;
}
}  // namespace

// A folder that folds case says nothing of the others: their names are still matched by table.
TEST_F(KernelTest, NamespaceMatchesCaseBesideAFolderThatFoldsIt) {
    Write(root() + "/f/abc", "f");
    Write(root() + "/p/readme.txt", "p");
    struct stat st {};
    ASSERT_EQ(stat((root() + "/f").c_str(), &st), 0);
    g_folding = st.st_ino;
    g_fsType = EXT4_SUPER_MAGIC;
    host::Table().fstatat = FoldingStat;
    host::Table().fstatfs = StatFsOf;
    EXPECT_EQ(GetFileAttributesW(u"\\f\\missing"), INVALID_FILE_ATTRIBUTES);  // lists f first
    EXPECT_NE(GetFileAttributesW(u"\\p\\README.TXT"), INVALID_FILE_ATTRIBUTES);
}

// A host that ignores case in every folder (a FUSE driver) is learnt to: a miss lists no folder.
TEST_F(KernelTest, NamespaceLearnsAHostThatIgnoresCase) {
    Write(root() + "/f/abc", "f");
    Write(root() + "/p/x", "p");
    g_folding = 0;
    g_fsType = 0x65735546;  // FUSE
    host::Table().fstatat = FoldingStat;
    host::Table().fstatfs = StatFsOf;
    EXPECT_EQ(GetFileAttributesW(u"\\f\\missing"), INVALID_FILE_ATTRIBUTES);  // lists f, learns
    ClearFaults();
    EXPECT_EQ(GetFileAttributesW(u"\\p\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(HostCallCount(HostOp::ReadDir), 0);
}

// Stamps x own change x outside change: a name another process adds to a folder whose name table
// is known is found once the clock has passed what the rule allows.
TEST_F(KernelTest, NamespaceTablesFollowTheFreshnessRule) {
    struct Row {
        const char* name;
        bool coarse;
        int64_t stampAge;  // how old the folder's stamps are when the table is filled
        bool ownChange;    // this process adds a file before the outside one
        bool stampsMove;   // the outside change moves the stamps
        int64_t later;     // time passed before the lookup
    } rows[] = {
        {"fine, settled, stamps move", false, kSecond, false, true, kNextTick},
        {"fine, unsettled, stamps stay", false, 0, false, false, kNextTick},
        {"coarse, settled, stamps move", true, 10 * kSecond, false, true, kNextTick},
        {"coarse, unsettled, stamps stay", true, 0, false, false, kCoarseWindow},
        {"coarse, own change", true, 10 * kSecond, true, true, kCoarseWindow},
        // The folder's status as FUSE caches it, unsynced, while this process fills it.
        {"fine, own change, stamps stay", false, kSecond, true, false, 60'000'000},
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ForgetHost();                          // the traits of the filesystem are learnt anew
        g_fsType = r.coarse ? 0x65735546 : 0;  // a FUSE filesystem: coarse stamps
        const std::string dir = "/t" + std::to_string(n++);
        Write(root() + dir + "/seed.txt", "s");
        g_dir = fs::status(root() + dir).type() == fs::file_type::directory
                    ? [&] { struct stat st{}; stat((root() + dir).c_str(), &st); return st.st_ino; }()
                    : 0;
        const int64_t stamp = Now() - r.stampAge;
        g_stamp = {static_cast<time_t>(stamp / kSecond), static_cast<long>(stamp % kSecond)};
        host::Table().fstatat = StampedStat;
        host::Table().fstatfs = StatFsOf;
        const std::u16string dev(dir.begin(), dir.end());
        const std::u16string outside = u"\\" + dev.substr(1) + u"\\OUT.TXT";
        EXPECT_EQ(GetFileAttributesW(outside.c_str()), INVALID_FILE_ATTRIBUTES);
        if (r.ownChange) {
            ASSERT_TRUE(CopyFileW((u"\\" + dev.substr(1) + u"\\seed.txt").c_str(),
                                  (u"\\" + dev.substr(1) + u"\\own.txt").c_str(), FALSE));
        }
        Write(root() + dir + "/out.txt", "o");
        if (r.stampsMove) g_stamp.tv_sec += 1;
        Advance(r.later);
        EXPECT_NE(GetFileAttributesW(outside.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

// The folder nodes are the walk's cache: within a tick none is opened again; past it the folder
// holding the entry is compared with the host, and the folders above it past their 50 ms.
TEST_F(KernelTest, NamespaceNodesAreKeptWithinATickAndComparedAfter) {
    for (int i = 0; i < 20; ++i) Write(root() + "/a/b/f" + std::to_string(i), "x");
    ASSERT_NE(GetFileAttributesW(u"\\A\\B\\F0"), INVALID_FILE_ATTRIBUTES);
    ClearFaults();
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_NE(GetFileAttributesW((u"\\A\\B\\F" + std::u16string(n.begin(), n.end())).c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
    wce::test::ExpectWithin(wce::test::budget::kNodesKeptWithinATick);
    Advance(kNextTick);
    ClearFaults();
    EXPECT_NE(GetFileAttributesW(u"\\a\\b\\f1"), INVALID_FILE_ATTRIBUTES);
    wce::test::ExpectWithin(wce::test::budget::kNodesComparedAfterATick);
    Advance(50'000'000);
    ClearFaults();
    EXPECT_NE(GetFileAttributesW(u"\\a\\b\\f2"), INVALID_FILE_ATTRIBUTES);
    wce::test::ExpectWithin(wce::test::budget::kNodesUpComparedAfterTheirWindow);
    // A kernel that takes no sync flags there (EINVAL) is asked again without: the nodes stay.
    host::Table().fstatat = [](int d, const char* p, struct stat* st, int f) {
        if ((f & AT_STATX_DONT_SYNC) == 0) return ::fstatat(d, p, st, f);
        errno = EINVAL;
        return -1;
    };
    Advance(50'000'000);
    ClearFaults();
    EXPECT_NE(GetFileAttributesW(u"\\a\\b\\f3"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(HostCallCount(HostOp::Open), 0);
}

// However many folders a walk meets, the nodes it keeps hold no more descriptors than a process
// may open.
TEST_F(KernelTest, NamespaceNodesKeepFewDescriptors) {
    for (int i = 0; i < 600; ++i) Write(root() + "/d" + std::to_string(i) + "/f", "x");
    struct rlimit was {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &was), 0);
    struct rlimit low = was;
    low.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    int found = 0;
    for (int i = 0; i < 600; ++i) {
        const std::string n = "\\d" + std::to_string(i) + "\\f";
        found += GetFileAttributesW(std::u16string(n.begin(), n.end()).c_str()) !=
                 INVALID_FILE_ATTRIBUTES;
    }
    setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_EQ(found, 600);
}
