// The install under injected host faults: every host call it makes fails with EIO, ENOSPC and
// EACCES at its first, a middle and its last use, as a first install and over an older one, in
// memory, on disk and on FUSE images. Each run completes with the package in place or reports the
// failure; no file is torn or lost, and the next install leaves exactly the package.
#include <gtest/gtest.h>
#include <sys/vfs.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "platform/display/displays.h"
#include "platform/kernel/device.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/strings.h"
#include "platform/user/display.h"
#include "tests/install/dialog_host.h"
#include "tests/media/mounted_image.h"
#include "tests/support/scratch_device.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using wce::kernel::HostOp;
// Path below the program folders -> its bytes, "/" for a folder.
using Tree = std::map<std::string, std::string>;
using Calls = std::array<int, size_t(HostOp::Count_)>;

constexpr const char* kOpNames[] = {
    "Open",   "Close",   "Read",   "Write",    "Stat",     "ReadDir",   "Mkdir",
    "Unlink", "Rename",  "Chmod",  "GetXattr", "SetXattr", "Ioctl",     "CopyRange",
    "SyncFs", "Realloc", "StatFs", "ReadLink", "Link",     "SyncRange", "Advise"};
static_assert(std::size(kOpNames) == size_t(HostOp::Count_));
constexpr std::pair<int, const char*> kErrors[] = {
    {EIO, "EIO"}, {ENOSPC, "ENOSPC"}, {EACCES, "EACCES"}};

// The package: both trees nested, one empty folder, one hidden file; the older version the device
// may hold has other bytes and other attributes.
struct File {
    const char* path;
    size_t size;
    DWORD oldAttributes;
};
constexpr DWORD kRo = FILE_ATTRIBUTE_READONLY, kHidden = FILE_ATTRIBUTE_HIDDEN;
constexpr File kFiles[] = {
    {"SETAPP/Lang.txt", 3000, kRo},           {"SETAPP/Desktop.ini", 40, kHidden},
    {"SETAPP/Fonts/Small.fnt", 9000, 0},      {"SETAPP/Fonts/Large/Big.fnt", 300000, kRo | kHidden},
    {"TAV/Messages.txt", 5000, kHidden},      {"TAV/Voice/Prompt1.wav", 70000, 0},
    {"TAV/Voice/Deep/Prompt2.wav", 100, kRo},
};
constexpr const char* kHiddenInPackage = "SETAPP/Desktop.ini";

std::string NewBytes(size_t n) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}
std::string OldBytes(const File& f) {
    return std::string(f.size / 2 + 1, 'o');
}

std::u16string Device(const std::string& s) {
    std::u16string d;
    for (char c : s) d += c == '/' ? u'\\' : char16_t(c);
    return d;
}

// Answers each message box with OK and keeps what it said.
class MessageDisplay : public wce::user::Display {
  public:
    static inline std::string s_said;
    void WaitForInput() override {
        const std::string screen = wce::user::DumpScreen();
        if (const size_t at = screen.find("messagebox "); at != std::string::npos)
            s_said += screen.substr(at);
        wce::display::AnswerAsAbsentUser();
    }
    bool OwnsStdout() const override { return true; }  // keeps hundreds of results off the log
};

struct Outcome {
    int result = -1;  // 1 completed, 0 failed, -1 no clear message
    int fired = 0;
    int handlesLeft = 0;
    Calls calls{};
};

struct Medium {
    const char* name;
    const media::Filesystem* image;  // or a host folder below base
    const char* base;
};
void PrintTo(const Medium& m, std::ostream* os) {
    *os << m.name;
}

class InstallFaultMatrix : public ::testing::TestWithParam<Medium> {
  protected:
    void SetUp() override {
        struct statfs shm {};
        if (statfs("/dev/shm", &shm) != 0 || shm.f_type != 0x01021994 /* TMPFS_MAGIC */)
            GTEST_SKIP() << "no tmpfs at /dev/shm for the package";
        host_ = std::make_unique<wce::test::ScratchFolder>(
            GetParam().base ? GetParam().base : fs::temp_directory_path());
        if (GetParam().image) {
            const int sizeMiB = GetParam().image == &media::kFat ? 40 : 16;
            image_ = std::make_unique<media::MountedImage>(*GetParam().image, sizeMiB,
                                                           host_->path() / "card");
            if (!image_->Error().empty()) GTEST_SKIP() << image_->Error();
            device_ = image_->Mnt() / "device";
        } else {
            device_ = host_->path() / "device";
        }
        wce::user::SetDisplay(std::make_unique<MessageDisplay>());
        fs::create_directories(device_);
        Configure(device_);
        for (const File& f : kFiles)
            wce::test::WriteFile(package_.path() / "PRODUCT1" / f.path, NewBytes(f.size));
        fs::create_directories(package_.path() / "PRODUCT1/SETAPP/Empty");
        SetFileAttributesW((u"\\Storage Card\\PRODUCT1\\" + Device(kHiddenInPackage)).c_str(),
                           kHidden);
        want_ = Snapshot(package_.path() / "PRODUCT1");
        // Past the stamp window, so what the kernel trusts of the package is the same in every run:
        // two ticks, as a fine stamp may run up to a tick ahead of the coarse clock.
        clock_.emplace(2 * wce::test::ScratchDevice::kNextTick);
    }
    void TearDown() override {
        wce::kernel::ClearFaults();
        Configure(package_.path());  // lets go of the mount before it goes
        if (image_) {
            EXPECT_TRUE(image_->Unmount()) << "the mount was busy";
        }
        clock_.reset();
        wce::kernel::ConfigureDevice(saved_);
        wce::user::SetDisplay(nullptr);  // the display is this fixture's object
    }
    void Configure(const fs::path& root) {
        wce::kernel::DeviceConfig c;
        c.hostRoot = root.string();
        c.hostMedium = package_.path().string();
        wce::kernel::ConfigureDevice(c);
    }

    // A fresh device, or one holding an older version of every file; the kernel starts cold.
    Tree Prepare(bool older) {
        wce::kernel::ForgetHost();  // lets go of the folders the kernel holds in the old tree
        // A file removed while open stays (.fuse_hidden*) until the FUSE driver has seen its close.
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::error_code ec;
            fs::remove_all(device_ / "ROMDisk", ec);
            if (!ec) fs::remove_all(device_ / "ROMDisk2", ec);
            if (!ec) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        fs::create_directories(device_ / "ROMDisk/PROGRAM/TAV");
        fs::create_directories(device_ / "ROMDisk2/PROGRAM/SETAPP");
        wce::kernel::ForgetHost();
        for (const File& f : kFiles) {
            if (!older) break;
            wce::test::WriteFile(HostOf(f.path), OldBytes(f));
            SetFileAttributesW(DeviceOf(f.path).c_str(), f.oldAttributes);  // refused on FAT
        }
        wce::kernel::ForgetHost();
        return Snapshot();
    }

    // The Install command in a live dialog, with one fault armed around it (nth 0: none).
    Outcome Install(HostOp op = HostOp::Open, int nth = 0, int err = 0) {
        Outcome o;
        MessageDisplay::s_said.clear();
        install_test::RunInDialog([&](install_test::HostedDlg& dlg) {
            StringCchCopyW(dlg.m_szSetupDir, MAX_PATH, u"\\Storage Card\\");
            dlg.m_lbProducts.InsertString(0, u"One");
            dlg.m_lbProducts.SetCurSel(0);
            StringCchCopyW(dlg.m_aszProductKeys[0], MAX_KEY_LEN + 1, u"1");
            wce::kernel::ClearFaults();
            if (nth > 0) wce::kernel::InjectFault(op, nth, err);
            dlg.OnInstall();
            o.fired = nth > 0 ? wce::kernel::FaultsFired(op) : 0;
            for (size_t i = 0; i < o.calls.size(); ++i)
                o.calls[i] = wce::kernel::HostCallCount(HostOp(i));
            wce::kernel::ClearFaults();
        });
        const std::string& said = MessageDisplay::s_said;
        const bool done = said.find("Installation has been completed.") != std::string::npos;
        const bool failed = said.find("Failed in copying files.") != std::string::npos;
        o.result = done == failed ? -1 : done ? 1 : 0;
        o.handlesLeft = wce::kernel::OpenHandleCount();
        return o;
    }

    // What an install sees with faults armed (work then stays on one thread), none firing.
    Calls CallsOf(bool older) {
        Prepare(older);
        return Install(HostOp::Realloc, INT_MAX, ENOMEM).calls;
    }

    fs::path HostOf(const std::string& rel) const {
        return device_ / (rel.rfind("TAV", 0) == 0 ? "ROMDisk/PROGRAM" : "ROMDisk2/PROGRAM") / rel;
    }
    std::u16string DeviceOf(const std::string& rel) const {
        return Device((rel.rfind("TAV", 0) == 0 ? "/ROMDisk/PROGRAM/" : "/ROMDisk2/PROGRAM/") +
                      rel);
    }
    // Every entry below both program folders, dot names (temporaries) included.
    Tree Snapshot() const {
        Tree t = Snapshot(device_ / "ROMDisk2/PROGRAM");
        t.merge(Snapshot(device_ / "ROMDisk/PROGRAM"));
        return t;
    }
    static Tree Snapshot(const fs::path& top) {
        Tree t;
        for (const auto& e : fs::recursive_directory_iterator(top))
            t[fs::relative(e.path(), top)] = e.is_directory() ? "/" : wce::test::ReadFile(e.path());
        return t;
    }

    // What is wrong after a run that failed or completed, against the device before it.
    std::string Judge(const Outcome& o, const Tree& before, const Tree& after) const {
        std::string wrong;
        if (o.result < 0) wrong += " no clear result message;";
        if (!o.fired && o.result == 0) wrong += " failed without a fault;";
        if (o.handlesLeft) wrong += " " + std::to_string(o.handlesLeft) + " handles left open;";
        for (const auto& [rel, want] : want_) {
            const auto got = after.find(rel);
            const bool hadOld = before.count(rel) > 0;
            if (got == after.end()) {
                if (hadOld)
                    wrong += " lost old " + rel + ";";
                else if (o.result == 1)
                    wrong += " completed without " + rel + ";";
            } else if (got->second != want && !(hadOld && got->second == before.at(rel))) {
                wrong += " torn " + rel + " (" + std::to_string(got->second.size()) + " bytes);";
            } else if (got->second != want && o.result == 1) {
                wrong += " completed with old " + rel + ";";
            }
        }
        return wrong;
    }

    wce::test::ScratchFolder package_{"/dev/shm"};
    std::unique_ptr<wce::test::ScratchFolder> host_;
    std::unique_ptr<media::MountedImage> image_;
    fs::path device_;
    Tree want_;
    const wce::kernel::DeviceConfig saved_ = wce::kernel::CurrentDevice();
    std::optional<wce::test::ShiftedClock> clock_;
};

TEST_P(InstallFaultMatrix, EveryFaultFailsCleanlyOrCompletesWhole) {
    int tried = 0, fired = 0;
    for (const bool older : {false, true}) {
        const Calls calls = CallsOf(older);
        ASSERT_TRUE(Snapshot() == want_) << "the install without faults did not complete";
        for (size_t i = 0; i < calls.size(); ++i) {
            const auto op = HostOp(i);
            if (calls[i] == 0 || op == HostOp::Advise) continue;  // counted, never failed
            for (const int planned : std::set<int>{1, (calls[i] + 1) / 2, calls[i]}) {
                for (const auto& [err, errName] : kErrors) {
                    Tree before = Prepare(older);
                    int nth = planned;
                    Outcome o = Install(op, nth, err);
                    // A folder listed again after a pause can shift the count: fail the run's own
                    // last use instead.
                    for (int again = 0; again < 3 && !o.fired && o.calls[i] > 0 && o.calls[i] < nth;
                         ++again) {
                        before = Prepare(older);
                        o = Install(op, nth = o.calls[i], err);
                    }
                    SCOPED_TRACE(std::string(GetParam().name) +
                                 (older ? " over older, " : " first, ") + kOpNames[i] + " #" +
                                 std::to_string(nth) + " of " + std::to_string(calls[i]) + ", " +
                                 errName + (o.fired ? "" : " (did not fire)"));
                    ++tried;
                    fired += o.fired > 0;
                    std::string wrong = Judge(o, before, Snapshot());
                    // A failed flush is data that may not have reached the medium.
                    if (o.fired && o.result == 1 &&
                        (op == HostOp::SyncFs || op == HostOp::SyncRange))
                        wrong += " completion reported after a failed flush;";
                    if (Install().result != 1) wrong += " the next install did not complete;";
                    const Tree after = Snapshot();
                    for (const auto& [rel, bytes] : after)
                        if (!want_.count(rel))
                            wrong += " left after the next install: " + rel + ";";
                    for (const auto& [rel, bytes] : want_)
                        if (!after.count(rel) || after.at(rel) != bytes)
                            wrong += " next install: " + rel + " differs;";
                    EXPECT_EQ(wrong, "")
                        << "reported " << (o.result == 1 ? "completion" : "failure");
                }
            }
        }
    }
    std::printf("fault matrix (%s): %d faults tried, %d fired\n", GetParam().name, tried, fired);
    EXPECT_GT(fired, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, InstallFaultMatrix,
                         ::testing::Values(Medium{"tmpfs", nullptr, "/dev/shm"},
                                           Medium{"disk", nullptr, "/var/tmp"},
                                           Medium{"fat", &media::kFat, nullptr},
                                           Medium{"ntfs", &media::kNtfs, nullptr}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
