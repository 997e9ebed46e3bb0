// The attribute word on the host: permissions, user.DOSATTRIB and the FAT attribute ioctls.
#include "platform/kernel/services/attributes.h"

#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "tests/support/call_budgets.h"
#include "tests/support/scratch_device.h"

using namespace wce::kernel;
using wce::test::ExpectWithin;
namespace budget = wce::test::budget;

TEST(KernelAttributes, DosAttribValuesInTextAndBinaryForm) {
    struct Row {
        std::string value;
        DWORD bits;
    } rows[] = {
        {"0x2", 0x2},
        {std::string("0x22\0", 5), 0x22},
        {"0X6", 0x6},
        {"", 0},
        {"garbage", 0},
        // Binary record with an empty text prefix: version 3, flags, then the attributes.
        {std::string("\0\3\0\3\0\x01\0\0\0\x02\0\0\0", 14), 0x2},
        {std::string("\0\1\0\1\0\x04\0\0\0", 9), 0x4},
        {std::string("0x20\0\3\0\3\0\x01\0\0\0\x02\0\0\0", 18), 0x20},
        // Long and malformed text: every digit counts, and a value that is no word reads as none.
        {"0x" + std::string(29, '0') + "2", 0x2},
        {"0x-2", 0},
        {"0x 2", 0},
        {"0x100000002", 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.value);
        EXPECT_EQ(attrs::ParseDosAttrib(r.value.data(), r.value.size()), r.bits);
    }
}

TEST_F(KernelTest, AttributesFollowPermissionsAndDosAttrib) {
    Write(root() + "/plain.txt", "x");
    Write(root() + "/hidden.txt", "x");
    Write(root() + "/ro.txt", "x");
    Write(root() + "/both.txt", "x");
    Write(root() + "/dir/x", "x");
    Write(root() + "/srv.txt", "x");
    SetDosAttrib(root() + "/hidden.txt", "0x2");
    SetDosAttrib(root() + "/both.txt", "0x22");
    SetDosAttrib(root() + "/srv.txt", std::string("0x4\0\3\0\3\0\0\0\0\0\4\0\0\0", 17));
    chmod((root() + "/ro.txt").c_str(), 0444);
    chmod((root() + "/both.txt").c_str(), 0444);
    struct Row {
        const char16_t* path;
        DWORD word;
    } rows[] = {
        {u"\\plain.txt", FILE_ATTRIBUTE_NORMAL},
        {u"\\hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {u"\\ro.txt", FILE_ATTRIBUTE_READONLY},
        {u"\\both.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {u"\\srv.txt", FILE_ATTRIBUTE_SYSTEM},
        {u"\\dir", FILE_ATTRIBUTE_DIRECTORY},
        {u"\\nothing", INVALID_FILE_ATTRIBUTES},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.word);
        EXPECT_EQ(GetFileAttributesW(r.path), r.word);
    }
}

TEST_F(KernelTest, AttributesSetRoundTripsAndNormalClearsAll) {
    const std::string f = root() + "/f.txt";
    Write(f, "x");
    struct Row {
        DWORD set, read;
    } rows[] = {
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.set);
        ASSERT_TRUE(SetFileAttributesW(u"\\F.TXT", r.set));
        EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), r.read);
    }
    // The text form other tools read; cleared means no attribute left behind.
    ASSERT_TRUE(SetFileAttributesW(u"\\f.txt", FILE_ATTRIBUTE_HIDDEN));
    char buf[16] = {};
    ASSERT_EQ(getxattr(f.c_str(), "user.DOSATTRIB", buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "0x2");
    ASSERT_TRUE(SetFileAttributesW(u"\\f.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_LT(getxattr(f.c_str(), "user.DOSATTRIB", buf, sizeof buf), 0);
    EXPECT_EQ(fs::status(f).permissions() & fs::perms::owner_write, fs::perms::owner_write);
}

template <class R, class... Args>
R NotSupported(Args...) {
    errno = ENOTSUP;
    return -1;
}

TEST_F(KernelTest, AttributesWithoutUserXattrsReadAbsentAndRefuseHidden) {
    Write(root() + "/f.txt", "x");
    host::Table().lgetxattr = NotSupported;
    host::Table().getxattrat = NotSupported;
    host::Table().fgetxattr = NotSupported;
    host::Table().fsetxattr = NotSupported;
    EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(SetFileAttributesW(u"\\f.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(SetFileAttributesW(u"\\f.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), FILE_ATTRIBUTE_READONLY);
}

namespace {
// A FAT medium imitated at the host table: statfs reports vfat, the ioctls keep bits per inode.
std::map<ino_t, uint32_t> g_fatBits;
int FakeFatStatfs(int, struct statfs* st) {
    std::memset(st, 0, sizeof *st);
    st->f_type = MSDOS_SUPER_MAGIC;
    return 0;
}
int FakeFatIoctl(int fd, unsigned long request, void* arg) {
    struct stat st {};
    fstat(fd, &st);
    if (request == FAT_IOCTL_GET_ATTRIBUTES) {
        *static_cast<uint32_t*>(arg) = g_fatBits[st.st_ino] | (S_ISDIR(st.st_mode) ? 0x10 : 0);
        return 0;
    }
    if (request == FAT_IOCTL_SET_ATTRIBUTES) {
        g_fatBits[st.st_ino] = *static_cast<uint32_t*>(arg) & ~0x10u;
        return 0;
    }
    errno = ENOTTY;
    return -1;
}
}  // namespace

TEST_F(KernelTest, AttributesOnFatMediumUseTheMediumsBits) {
    Write(medium() + "/a.txt", "x");
    Write(medium() + "/sub/b.txt", "x");
    g_fatBits.clear();
    host::Table().fstatfs = FakeFatStatfs;
    host::Table().ioctl = FakeFatIoctl;
    EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\a.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\sub"), FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SetFileAttributesW(u"\\Storage Card\\a.txt",
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\a.txt"),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ExpectWithin(budget::kFatBitsOnly);
    ASSERT_TRUE(SetFileAttributesW(u"\\Storage Card\\a.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\a.txt"), FILE_ATTRIBUTE_NORMAL);
    ExpectWithin(budget::kOneStatFsPerDevice);
    // A failing ioctl is a failed read, which the walk counts as hidden.
    FaultScope faults;
    faults.Fail(HostOp::Ioctl, 1, EIO);
    Advance(kNextTick);  // the word read within the tick is not read again
    EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\a.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(KernelTest, AttributesFailuresAtTheHostAreReported) {
    Write(root() + "/f.txt", "x");
    struct Row {
        HostOp op;
        int err;
        DWORD set;
        DWORD lastError;
    } rows[] = {
        {HostOp::Chmod, EACCES, FILE_ATTRIBUTE_READONLY, ERROR_ACCESS_DENIED},
        {HostOp::SetXattr, ENOSPC, FILE_ATTRIBUTE_HIDDEN, ERROR_DISK_FULL},
        {HostOp::Stat, EIO, FILE_ATTRIBUTE_NORMAL, ERROR_GEN_FAILURE},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.op));
        FaultScope faults;
        faults.Fail(r.op, 1, r.err);
        EXPECT_FALSE(SetFileAttributesW(u"\\f.txt", r.set));
        EXPECT_EQ(GetLastError(), r.lastError);
    }
    EXPECT_EQ(GetFileAttributesW(u"\\f.txt"), FILE_ATTRIBUTE_NORMAL);
}

// Where the running kernel has no relative attribute read, the path call serves instead.
TEST_F(KernelTest, AttributesReadWithoutRelativeCall) {
    Write(root() + "/d/h.txt", "x");
    SetDosAttrib(root() + "/d/h.txt", "0x2");
    // The clock stands still: stamps made here never settle, so every read goes to the host.
    host::Table().getxattrat = [](int, const char*, int, const char*, void*, size_t) -> ssize_t {
        errno = ENOSYS;
        return -1;
    };
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\d\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fd.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\h.txt"), FILE_ATTRIBUTE_HIDDEN);
    FindClose(h);
    ExpectWithin(budget::kEnumeratedAttributes);
}

// What a folder node knows of an entry's word is its answer within the tick it was read, and a
// change by another process is seen from the next tick on.
TEST_F(KernelTest, AttributesChangedBehindItsBackAreSeenFromTheNextTick) {
    Write(root() + "/d/h.txt", "x");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\d\\*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    EXPECT_EQ(fd.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    ClearFaults();
    SetDosAttrib(root() + "/d/h.txt", "0x2");
    EXPECT_EQ(GetFileAttributesW(u"\\d\\h.txt"), FILE_ATTRIBUTE_NORMAL) << "read within its tick";
    EXPECT_EQ(HostCallCount(HostOp::GetXattr), 0);
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\h.txt"), FILE_ATTRIBUTE_HIDDEN);
}
