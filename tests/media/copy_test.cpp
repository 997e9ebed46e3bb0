// File copies onto FAT and NTFS images mounted through their FUSE drivers, where renames take
// no flags, there are no unnamed files, and attributes are kept only in part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "platform/kernel/activity.h"
#include "platform/kernel/errors.h"
#include "tests/media/mounted_image.h"
#include "tests/support/scratch_device.h"

namespace {

using namespace media;

std::string Random(size_t n) {
    std::mt19937 gen(n);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}
std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class MediaCopy : public wce::test::DeviceTest<::testing::TestWithParam<const Filesystem*>> {
  protected:
    // The device root on an image of sizeMiB; the medium in the scratch folder.
    void Make(const Filesystem& fsys, int sizeMiB) {
        image_ = std::make_unique<MountedImage>(fsys, sizeMiB, top() + "/card");
        if (!image_->Error().empty()) GTEST_SKIP() << image_->Error();
        fs::create_directories(Root());
        MapRoot(Root());
    }
    void TearDown() override {
        DeviceTest::TearDown();
        MapRoot(root());  // lets go of the mount before it goes
        if (image_) {
            EXPECT_TRUE(image_->Unmount()) << "the mount was busy";
        }
    }
    fs::path Root() const { return image_->Mnt() / "root"; }
    fs::path Medium() const { return medium(); }

    std::unique_ptr<MountedImage> image_;
};

// New and replacing copies land whole under their names, exclusive copies refuse a taken name,
// nothing is left beside them, and all of it is on the image after unmounting.
TEST_P(MediaCopy, CopiesLandWholeAndNothingElse) {
    Make(*GetParam(), GetParam() == &kFat ? 40 : 16);
    if (IsSkipped()) return;
    const std::string big = Random(1 << 20);
    Write(Medium() / "small.txt", "new");
    Write(Medium() / "big.bin", big);
    Write(Root() / "old.txt", std::string(5000, 'o'));
    Write(Root() / "readme.txt", "old readme");
    Write(Root() / "taken.txt", "kept");
    struct Row {
        const char16_t *src, *dst;
        BOOL failIfExists, ok;
        const char* host;
        std::string after;
    } rows[] = {
        {u"\\Storage Card\\small.txt", u"\\new.txt", TRUE, TRUE, "new.txt", "new"},
        {u"\\Storage Card\\big.bin", u"\\big.bin", TRUE, TRUE, "big.bin", big},
        {u"\\Storage Card\\small.txt", u"\\old.txt", FALSE, TRUE, "old.txt", "new"},
        {u"\\Storage Card\\big.bin", u"\\README.TXT", FALSE, TRUE, "readme.txt", big},
        {u"\\Storage Card\\small.txt", u"\\taken.txt", TRUE, FALSE, "taken.txt", "kept"},
        {u"\\Storage Card\\small.txt", u"\\TAKEN.TXT", TRUE, FALSE, "taken.txt", "kept"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.host);
        SetLastError(0);
        EXPECT_EQ(CopyFileW(r.src, r.dst, r.failIfExists), r.ok);
        if (!r.ok) {
            EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
        }
        EXPECT_TRUE(Read(Root() / r.host) == r.after) << "content differs";
    }
    const std::vector<std::string> expected{"big.bin", "new.txt", "old.txt", "readme.txt",
                                            "taken.txt"};
    EXPECT_EQ(Names(Root()), expected);
    EXPECT_TRUE(FlushVolumeW(u"\\"));
    MapRoot(root());
    ASSERT_TRUE(image_->Unmount());
    ASSERT_TRUE(image_->Mount()) << image_->Error();
    EXPECT_EQ(Names(Root()), expected);
    EXPECT_TRUE(Read(Root() / "big.bin") == big && Read(Root() / "readme.txt") == big);
}

// Hidden and read-only are kept where the filesystem can hold them; elsewhere the copy still
// succeeds.
TEST_P(MediaCopy, AttributesKeptWhereTheMediumCan) {
    Make(*GetParam(), GetParam() == &kFat ? 40 : 16);
    if (IsSkipped()) return;
    Write(Medium() / "a.txt", "a");
    ASSERT_TRUE(SetFileAttributesW(u"\\Storage Card\\a.txt",
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY) ||
                !GetParam()->keepsAttributes);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\a.txt", FALSE));
    EXPECT_EQ(Read(Root() / "a.txt"), "a");
    const DWORD want =
        GetParam()->keepsAttributes ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY : 0;
    EXPECT_EQ(GetFileAttributesW(u"\\a.txt") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              want);
    // As on the device, a read-only or hidden target is refused until its attributes are reset.
    if (GetParam()->keepsAttributes) {
        EXPECT_FALSE(CopyFileW(u"\\Storage Card\\a.txt", u"\\a.txt", FALSE));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_NORMAL));
    }
    EXPECT_TRUE(CopyFileW(u"\\Storage Card\\a.txt", u"\\a.txt", FALSE));
    EXPECT_EQ(Names(Root()), std::vector<std::string>{"a.txt"});
}

// Names another process adds to a folder this process is writing into are seen within 50 ms,
// though the folder's time stamp here may not show the change (2-second FAT times).
TEST_P(MediaCopy, NamesAddedBehindItsBackAreSeen) {
    Make(*GetParam(), GetParam() == &kFat ? 40 : 16);
    if (IsSkipped()) return;
    Write(Medium() / "src.txt", "ours");
    ASSERT_TRUE(CreateDirectoryW(u"\\d", nullptr));
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", u"\\d\\a.txt", TRUE));
    Write(Root() / "d" / "B.txt", "theirs");
    Advance(kSeenWithin);
    EXPECT_NE(GetFileAttributesW(u"\\d\\b.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(CopyFileW(u"\\Storage Card\\src.txt", u"\\d\\b.txt", TRUE));
    EXPECT_TRUE(CopyFileW(u"\\Storage Card\\src.txt", u"\\d\\b.txt", FALSE));
    // One file of that name, whatever its case (on FAT the replacing copy may give it ours).
    std::vector<std::string> names = Names(Root() / "d");
    for (auto& n : names) std::transform(n.begin(), n.end(), n.begin(), ::tolower);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(Read(Root() / "d" / "B.txt"), "ours");
}

// A copy the medium has no room for fails, keeps the file it was to replace, and leaves nothing.
TEST_P(MediaCopy, CopyThatDoesNotFitKeepsTheOldFile) {
    const int sizeMiB = GetParam() == &kFat ? 4 : 8;
    Make(GetParam() == &kFat ? kSmallFat : kNtfs, sizeMiB);
    if (IsSkipped()) return;
    Write(Medium() / "big.bin", std::string(size_t(sizeMiB) << 20, 'b'));
    Write(Root() / "old.bin", "old");
    for (const char16_t* dst : {u"\\old.bin", u"\\new.bin"}) {
        SCOPED_TRACE(static_cast<int>(dst[1]));
        EXPECT_FALSE(CopyFileW(u"\\Storage Card\\big.bin", dst, FALSE));
        EXPECT_NE(GetLastError(), ERROR_SUCCESS);
        EXPECT_EQ(Names(Root()), std::vector<std::string>{"old.bin"});
        EXPECT_EQ(Read(Root() / "old.bin"), "old");
    }
}

// The last-write time comes with the file: to the 2-second grain of FAT, exactly on NTFS.
TEST_P(MediaCopy, LastWriteTimeComesWithTheFile) {
    Make(*GetParam(), 32);
    if (IsSkipped()) return;
    Write(Medium() / "old.txt", "old");
    const struct timespec written[2] = {{0, UTIME_OMIT}, {981173107, 300000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (Medium() / "old.txt").c_str(), written, 0), 0);
    Write(Root() / "there.txt", "replaced");
    for (const char16_t* dst : {u"\\new.txt", u"\\there.txt"}) {
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\old.txt", dst, FALSE)) << GetLastError();
        struct stat st {};
        ASSERT_EQ(stat((Root() / (dst[1] == u'n' ? "new.txt" : "there.txt")).c_str(), &st), 0);
        const double got = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
        EXPECT_NEAR(got, 981173107.3, GetParam() == &kFat ? 2.0 : 1e-6);
    }
}

// The flush reaches the image the driver writes through the host's caches (an fsync of it, no
// flush of every filesystem), and the read-back reads past them: the file with O_DIRECT, the
// image's pages dropped first. Where that image cannot be opened, the flush falls back on one and
// the read-back says in words that it may have been served from the host's cache.
TEST_P(MediaCopy, FlushAndReadBackReachTheImageBeneath) {
    Make(*GetParam(), 32);
    if (IsSkipped()) return;
    struct Listener : wce::kernel::Activity {
        std::string noticed;
        void Noticed(std::string_view s) override { noticed = s; }
    } listener;
    wce::kernel::SetActivity(&listener);
    SetVerify(1);
    Write(Medium() / "a.bin", Random(3 << 20));
    static int syncs, fsyncs, direct, beneath;
    static ino_t image;
    struct stat img {};
    ASSERT_EQ(stat(image_->Image().c_str(), &img), 0);
    image = img.st_ino;
    syncs = fsyncs = direct = beneath = 0;
    auto& t = wce::kernel::host::Table();
    t.sync = [] { return ++syncs, ::sync(), 0; };
    t.fsync = [](int fd) { return ++fsyncs, ::fsync(fd); };
    t.openat = [](int d, const char* p, int f, mode_t m) {
        direct += (f & O_DIRECT) != 0;
        return ::openat(d, p, f, m);
    };
    t.fadvise = [](int fd, off_t pos, off_t n, int advice) {
        struct stat st {};
        beneath += fstat(fd, &st) == 0 && st.st_ino == image;
        return ::posix_fadvise(fd, pos, n, advice);
    };
    for (bool reachable : {true, false}) {
        SCOPED_TRACE(reachable);
        if (!reachable)
            // The driver's image is reached only through the driver's own descriptor.
            t.openat = [](int d, const char* p, int f, mode_t m) {
                const std::string_view path(p);
                return path.starts_with("/proc/") && !path.starts_with("/proc/self/") &&
                               path.find("/fd/") != std::string_view::npos
                           ? (errno = EACCES, -1)
                           : ::openat(d, p, f, m);
            };
        syncs = fsyncs = 0;
        listener.noticed.clear();
        ASSERT_TRUE(CopyFileW(u"\\Storage Card\\a.bin", u"\\a.bin", FALSE)) << GetLastError();
        EXPECT_TRUE(FlushVolumeW(u"\\")) << GetLastError();
        EXPECT_EQ(syncs, reachable ? 0 : 1);
        EXPECT_EQ(fsyncs, reachable ? 1 : 0);  // the image, not the driver's log
        EXPECT_EQ(listener.noticed.empty(), reachable) << listener.noticed;
        if (reachable) {
            EXPECT_EQ(direct, 1);
            EXPECT_EQ(beneath, 1);
        }
        if (!reachable) {
            EXPECT_NE(listener.noticed.find("not from the card"), std::string::npos);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Media, MediaCopy, ::testing::Values(&kFat, &kNtfs),
                         [](const auto& p) { return std::string(p.param->name); });

}  // namespace
