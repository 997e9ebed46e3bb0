// Installs of the bundled sample by the real program onto FAT and NTFS images mounted through
// their FUSE drivers: complete trees when there is room, a clean failure when there is not.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <cstdio>
#include <map>

#include "tests/media/mounted_image.h"
#include "tests/support/scratch_device.h"

namespace {

using namespace media;
using Tree = std::map<std::string, std::string>;  // relative path -> content ("/" for a folder)

constexpr const char* kCompleted = "message: SETUP: Installation has been completed.";
constexpr const char* kFailed = "message: SETUP: Failed in copying files.";
constexpr const char* kNtfsAttrib = "system.ntfs_attrib_be";

// The installer skips folders whose names begin with a dot, so a snapshot does too.
Tree Snapshot(const fs::path& top) {
    Tree t;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
         ++it) {
        const auto& e = *it;
        if (e.is_directory() && e.path().filename().string()[0] == '.') {
            it.disable_recursion_pending();
            continue;
        }
        t[fs::relative(e.path(), top)] =
            e.is_directory() ? "/" : wce::test::ScratchDevice::Read(e.path());
    }
    return t;
}
// Windows' attribute bits as the NTFS driver shows them: four bytes, most significant first.
void SetNtfsAttrib(const fs::path& p, unsigned bits) {
    const unsigned char v[4] = {0, 0, static_cast<unsigned char>(bits >> 8),
                                static_cast<unsigned char>(bits)};
    ASSERT_EQ(setxattr(p.c_str(), kNtfsAttrib, v, 4, 0), 0) << p;
}
unsigned NtfsAttrib(const fs::path& p) {
    unsigned char v[4] = {};
    return getxattr(p.c_str(), kNtfsAttrib, v, 4) == 4 ? unsigned(v[2]) << 8 | v[3] : 0;
}
// The names in a tree, for messages (contents can be megabytes).
std::string Names(const Tree& t) {
    std::string names;
    for (const auto& [rel, content] : t)
        names += rel + " (" + std::to_string(content.size()) + " bytes) ";
    return names;
}
int Occurrences(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}
std::string ControlLine(const std::string& dump, int nID) {
    const size_t at = dump.rfind("control " + std::to_string(nID) + " ");
    return at == std::string::npos ? "" : dump.substr(at, dump.find('\n', at) - at);
}

class MediaInstall : public wce::test::DeviceTest<::testing::TestWithParam<const Filesystem*>> {
  protected:
    // An image of sizeMiB holding the device, and the medium there too where mediumOnImage.
    void Make(const Filesystem& fsys, int sizeMiB, bool mediumOnImage) {
        image_ = std::make_unique<MountedImage>(fsys, sizeMiB, top() + "/card");
        if (!image_->Error().empty()) GTEST_SKIP() << image_->Error();
        medium_ = mediumOnImage ? image_->Mnt() / "medium" : fs::path(medium());
        fs::create_directories(Device() / "ROMDisk/PROGRAM/TAV");
        fs::create_directories(Device() / "ROMDisk2/PROGRAM/SETAPP");
    }
    void TearDown() override {
        DeviceTest::TearDown();
        if (image_) {
            EXPECT_TRUE(image_->Unmount()) << "the mount was busy";
        }
    }
    // The sample medium, its hidden files marked the way Windows (on NTFS) or Linux tools do.
    void CopySample() {
        fs::copy(SOURCE_DIR "/examples/medium", medium_, fs::copy_options::recursive);
        Write(Package() / "TAV/Voice/Thumbs.db", "thumbnails");  // sorts last: shown if not hidden
        for (const char* f : {"SETAPP/Desktop.ini", "TAV/Voice/Thumbs.db"}) {
            if (GetParam() == &kNtfs)
                SetNtfsAttrib(Package() / f, 0x22);
            else
                ASSERT_EQ(setxattr((Package() / f).c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
        }
    }
    // The shell command that runs the program headless with this script.
    std::string Command(const std::string& script) {
        std::ofstream(top() + "/script") << script;
        return "WCE_DISPLAY=headless WCE_ROOT='" + Device().string() + "' WCE_MEDIUM='" +
               medium_.string() + "' WCE_SCRIPT='" + top() +
               "/script' exec '" SETUP_BINARY "' </dev/null";
    }
    std::string Run(const std::string& script) {
        std::string out;
        FILE* p = popen((Command(script) + " 2>&1").c_str(), "r");
        char buf[4096];
        for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (p) pclose(p);
        return out;
    }
    // Both program trees are exactly the package's.
    void ExpectInstalled() {
        for (const char* tree : {"ROMDisk2/PROGRAM/SETAPP", "ROMDisk/PROGRAM/TAV"}) {
            const Tree got = Snapshot(Device() / tree),
                       want = Snapshot(Package() / fs::path(tree).filename());
            EXPECT_TRUE(got == want) << tree << ": " << Names(got) << "\nwanted: " << Names(want);
        }
    }
    fs::path Device() const { return image_->Mnt() / "device"; }
    fs::path Package() const { return medium_ / "PRODUCT1"; }

    std::unique_ptr<MountedImage> image_;
    fs::path medium_;
};

// First install, then one that replaces every file with changed data, then the same trees read
// back after remounting; hidden files are copied, neither counted nor shown, and stay hidden.
TEST_P(MediaInstall, SampleInstallsAndReinstalls) {
    Make(*GetParam(), GetParam() == &kFat ? 40 : 16, GetParam() == &kNtfs);
    if (IsSkipped()) return;
    CopySample();
    std::string out = Run("select 0\nclick 1001\ndump\nok\nclose\n");
    EXPECT_EQ(Occurrences(out, kCompleted), 1) << out;
    EXPECT_NE(ControlLine(out, 1007).find("\"4 / 4\""), std::string::npos) << out;
    EXPECT_NE(ControlLine(out, 1005).find("\"Prompts.txt\""), std::string::npos) << out;
    ExpectInstalled();

    Write(Package() / "SETAPP/Lang.txt", "shorter");
    Write(Package() / "TAV/Messages.txt", std::string(100000, 'm'));
    out = Run("select 0\nclick 1001\nok\nclose\n");
    EXPECT_EQ(Occurrences(out, kCompleted), 1) << out;
    ExpectInstalled();

    ASSERT_TRUE(image_->Unmount());
    ASSERT_TRUE(image_->Mount()) << image_->Error();
    ExpectInstalled();
    if (GetParam() != &kNtfs) return;
    for (const char* f :
         {"ROMDisk2/PROGRAM/SETAPP/Desktop.ini", "ROMDisk/PROGRAM/TAV/Voice/Thumbs.db"})
        EXPECT_EQ(NtfsAttrib(Device() / f) & 0x2, 0x2u) << f << " is no longer hidden";
}

// A copy the medium cannot take fails the install, and every file left at the target is whole:
// the package's, or what was there before (the installer deletes a target before replacing it,
// so that may be gone). Nothing else is left.
TEST_P(MediaInstall, CopyTheMediumCannotTakeFailsCleanly) {
    const int sizeMiB = GetParam() == &kFat ? 4 : 8;
    Make(GetParam() == &kFat ? kSmallFat : kNtfs, sizeMiB, false);
    if (IsSkipped()) return;
    const fs::path setapp = Device() / "ROMDisk2/PROGRAM/SETAPP";
    struct Row {
        const char* name;
        std::string bigName;     // the file that cannot be written
        const char* oldContent;  // at the target beforehand, or none
    } rows[] = {
        {"new file larger than the medium", "Big.bin", nullptr},
        {"replacement larger than the medium", "Big.bin", "old"},
        {"name the medium cannot hold", "\xE6\x97\xA5\xE6\x9C\xAC.txt", nullptr},
    };
    for (const auto& r : rows) {
        const bool tooBig = r.bigName == "Big.bin";
        if (!tooBig && !GetParam()->asciiNamesOnly) continue;
        SCOPED_TRACE(r.name);
        fs::remove_all(medium_);
        for (const auto& e : fs::directory_iterator(setapp)) fs::remove_all(e.path());
        Write(medium_ / "SETUP.INI", "[PRODUCT]\r\n1=One\r\n");
        Write(Package() / "SETAPP/A.txt", "first");
        Write(Package() / "SETAPP" / r.bigName,
              tooBig ? std::string(size_t(sizeMiB + 1) << 20, 'b') : "x");
        if (r.oldContent) Write(setapp / r.bigName, r.oldContent);
        const Tree before = Snapshot(setapp), package = Snapshot(Package() / "SETAPP");

        const std::string out = Run("click 1001\nok\nclose\n");
        EXPECT_EQ(Occurrences(out, kFailed), 1) << out;
        for (const auto& [rel, content] : Snapshot(setapp)) {
            SCOPED_TRACE(rel);
            const bool whole = (package.count(rel) && package.at(rel) == content) ||
                               (before.count(rel) && before.at(rel) == content);
            EXPECT_TRUE(whole) << "torn or stray file of " << content.size() << " bytes";
        }
    }
}

// An install killed while it writes a file leaves no torn file; the next install completes, and
// leaves nothing but the package (no temporary of the killed one).
TEST_P(MediaInstall, KilledInstallIsMadeGoodByTheNext) {
    Make(*GetParam(), 40, false);
    if (IsSkipped()) return;
    const fs::path setapp = Device() / "ROMDisk2/PROGRAM/SETAPP";
    Write(medium_ / "SETUP.INI", "[PRODUCT]\r\n1=One\r\n");
    Write(Package() / "SETAPP/Big.bin", std::string(8 << 20, 'b'));
    Write(Package() / "SETAPP/Small.txt", "small");
    const pid_t pid = Spawn({"sh", "-c", Command("click 1001\nok\nclose\n")}, top() + "/log");
    ASSERT_GT(pid, 0);
    bool writing = false;
    for (int i = 0; i < 20000 && !writing && waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
        writing = !fs::is_empty(setapp);
        if (!writing) usleep(500);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (!writing) GTEST_SKIP() << "the install ended before it could be killed";
    const Tree package = Snapshot(Package() / "SETAPP");
    for (const auto& [rel, content] : Snapshot(setapp)) {
        if (!package.count(rel)) continue;
        EXPECT_TRUE(package.at(rel) == content) << rel << " is torn";
    }

    EXPECT_EQ(Occurrences(Run("click 1001\nok\nclose\n"), kCompleted), 1);
    const Tree after = Snapshot(setapp);
    EXPECT_TRUE(after == package) << "left of the killed install: " << Names(after);
}

INSTANTIATE_TEST_SUITE_P(Media, MediaInstall, ::testing::Values(&kFat, &kNtfs),
                         [](const auto& p) { return std::string(p.param->name); });

}  // namespace
