// Copies finished behind the caller, on tmpfs where the worker takes them: every later call sees
// them made, and a failure among them reaches the caller with nothing torn left behind.
#include <sys/mount.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/copy_behind.h"
#include "tests/kernel/kernel_fixture.h"

namespace {

using namespace wce::kernel;

class CopyBehindTest : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        std::string tmpl = "/dev/shm/wce-behind-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        shm_ = tmpl;
        Remap(shm_ + "/root");
    }
    void TearDown() override {
        behind::Settle(true);
        (void)behind::TakeFailure();
        if (mounted_) umount2(mounted_->c_str(), MNT_DETACH);
        std::error_code ec;
        fs::remove_all(shm_, ec);
        KernelTest::TearDown();
    }
    void Remap(const std::string& hostRoot) {
        fs::create_directories(hostRoot);
        DeviceConfig c;
        c.hostRoot = hostRoot;
        c.hostMedium = medium();
        c.copyBehind = true;
        ConfigureDevice(c);
    }
    // Source files \src\f<k>.txt, k < n, of size bytes each (their number in the first bytes).
    std::vector<std::string> Sources(int n, size_t size) {
        std::vector<std::string> data;
        for (int k = 0; k < n; ++k) {
            std::string d = std::to_string(k);
            d.resize(size, static_cast<char>('a' + k % 26));
            Write(hostRoot() + "/src/f" + std::to_string(k) + ".txt", d);
            data.push_back(d);
        }
        fs::create_directories(hostRoot() + "/dst");
        return data;
    }
    static std::u16string Name(const char16_t* dir, int k) {
        std::u16string s = dir;
        for (char c : "\\f" + std::to_string(k) + ".txt") s += static_cast<char16_t>(c);
        return s;
    }
    std::string hostRoot() const { return CurrentDevice().hostRoot; }

    std::string shm_;
    std::optional<std::string> mounted_;
};

TEST_F(CopyBehindTest, EveryLaterCallSeesTheCopiesMade) {
    const auto data = Sources(300, 100);
    for (int k = 0; k < 300; ++k)
        ASSERT_TRUE(CopyFileW(Name(u"\\src", k).c_str(), Name(u"\\dst", k).c_str(), TRUE)) << k;
    // A copy from a name just queued copies it; a copy onto one finds it taken; a lookup finds
    // it; a listing lists all.
    EXPECT_TRUE(CopyFileW(Name(u"\\dst", 299).c_str(), u"\\src\\again.txt", TRUE)) << GetLastError();
    EXPECT_FALSE(CopyFileW(Name(u"\\src", 0).c_str(), Name(u"\\dst", 299).c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(GetFileAttributesW(u"\\DST\\F298.TXT"), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\dst\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int listed = 1;
    while (FindNextFileW(h, &fd)) ++listed;
    FindClose(h);
    EXPECT_EQ(listed, 300);
    EXPECT_TRUE(FlushVolumeW(u"\\dst"));
    for (int k = 0; k < 300; ++k) ASSERT_EQ(Read(hostRoot() + "/dst/f" + std::to_string(k) + ".txt"), data[k]);
    EXPECT_EQ(Read(hostRoot() + "/src/again.txt"), data[299]);
}

// A medium that fills up: the failing copy is reported by a later copy or by the flush, the
// files after it are not written, and every file there is whole.
TEST_F(CopyBehindTest, AFailureBehindIsReportedAndLeavesNothingTorn) {
    const auto data = Sources(64, 16 * 1024);
    const std::string card = hostRoot() + "/card";
    fs::create_directories(card);
    if (mount("tmpfs", card.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    mounted_ = card;
    fs::create_directories(card + "/dst");
    DWORD error = ERROR_SUCCESS;
    for (int k = 0; k < 64 && error == ERROR_SUCCESS; ++k)
        if (!CopyFileW(Name(u"\\src", k).c_str(), Name(u"\\card\\dst", k).c_str(), TRUE)) error = GetLastError();
    const BOOL flushed = FlushVolumeW(u"\\card\\dst");
    if (error != ERROR_SUCCESS) {
        EXPECT_EQ(error, ERROR_DISK_FULL);
    } else {
        EXPECT_FALSE(flushed);
        EXPECT_EQ(GetLastError(), ERROR_LOST_WRITEBEHIND_DATA);
    }
    int present = 0;
    for (const auto& e : fs::directory_iterator(*mounted_ + "/dst")) {
        const std::string name = e.path().filename().string();
        ASSERT_EQ(name.rfind("f", 0), 0u) << "stray " << name;
        const int k = std::stoi(name.substr(1));
        EXPECT_EQ(Read(e.path().string()), data[k]) << name;
        ++present;
    }
    EXPECT_GT(present, 0);
    EXPECT_LT(present, 64);
}

}  // namespace
