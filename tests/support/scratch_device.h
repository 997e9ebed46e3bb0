// A scratch device for tests that run the kernel in process: a temporary folder holding the
// device root and the medium, mapped for the object's life, and a clock only the test moves.
// Whatever a test changes of the kernel's state (the call table, faults, the clock, what it
// learnt of the host, the device mapping, the activity listener) is put back here, in one place,
// when the object goes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <iterator>
#include <string>

#include "platform/kernel/activity.h"
#include "platform/kernel/device.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "tests/support/scratch_folder.h"

namespace wce::test {

// The host's coarse clock, the one it stamps files with, in nanoseconds.
inline int64_t HostClock() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// For the object's life the kernel reads the host's clock offset ahead: stamps the host writes
// meanwhile stay comparable with it, and look offset older, as after sleeping that long. Not for
// use within a ScratchDevice, whose own clock it would not put back.
class ShiftedClock {
  public:
    explicit ShiftedClock(int64_t offset) {
        offset_ = offset;
        kernel::fsinfo::SetClock([] { return HostClock() + offset_.load(); });
    }
    ~ShiftedClock() { kernel::fsinfo::SetClock(nullptr); }
    ShiftedClock(const ShiftedClock&) = delete;
    ShiftedClock& operator=(const ShiftedClock&) = delete;

  private:
    static inline std::atomic<int64_t> offset_{0};
};

class ScratchDevice {
  public:
    // Steps of the clock past the kernel's promises (docs/kernel.md): a change made behind its
    // back is seen from the next tick of the coarse clock (1 to 10 ms, by host) where stamps are
    // fine; in a folder this process writes into, within 50 ms; on coarse stamps, within 2 s.
    static constexpr int64_t kNextTick = 10'000'000;
    static constexpr int64_t kSeenWithin = 50'000'000;
    static constexpr int64_t kCoarseWindow = 2'000'000'000;

    explicit ScratchDevice(const fs::path& base = fs::temp_directory_path())
        : folder_(base), top_(folder_.path().string()) {
        kernel::fsinfo::SetClock([] { return now_.load(); });
        fs::create_directories(root());
        fs::create_directories(medium());
        MapRoot(root());
        kernel::ClearFaults();
    }
    ~ScratchDevice() {
        kernel::SetActivity(nullptr);  // a listener is the test's own object, gone after it
        kernel::ClearFaults();
        kernel::host::RestoreOps();
        kernel::fsinfo::SetClock(nullptr);
        kernel::ForgetHost();  // lets go of the folders it holds open in the tree
        kernel::ConfigureDevice(saved_);
    }

    const std::string& top() const { return top_; }
    std::string root() const { return top_ + "/root"; }
    std::string medium() const { return top_ + "/medium"; }

    // Maps the device root onto hostRoot (a mounted card, say), the medium staying.
    void MapRoot(const std::string& hostRoot) const {
        kernel::DeviceConfig c = kernel::CurrentDevice();
        c.hostRoot = hostRoot;
        c.hostMedium = medium();
        kernel::ConfigureDevice(c);
    }
    static void SetVerify(int verify) {
        kernel::DeviceConfig c = kernel::CurrentDevice();
        c.verify = verify;
        kernel::ConfigureDevice(c);
    }

    // The host as it is, and nothing learnt of it: between the rows of a table that fakes the
    // host differently.
    static void RealHost() {
        kernel::host::RestoreOps();
        kernel::ForgetHost();
    }

    static int64_t Now() { return now_; }
    static void Advance(int64_t ns) { now_ += ns; }

    // Gives path the clock's time as its last-write time. The host stamps a change with its own
    // clock, which the test does not step: a change made after the clock was stepped would
    // otherwise carry the stamps of one made before it, which the kernel rightly trusts.
    static void Stamp(const fs::path& path) {
        const int64_t now = now_;
        const timespec times[2] = {{0, UTIME_OMIT}, {now / 1'000'000'000, now % 1'000'000'000}};
        utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    // Writes a file as another process would at the clock's time: it and every folder whose
    // entries it changed carry that time.
    static void Write(const fs::path& path, const std::string& data) {
        fs::path changed = path.parent_path();
        while (!changed.empty() && !fs::exists(changed)) changed = changed.parent_path();
        WriteFile(path, data);
        for (fs::path p = path; !p.empty(); p = p.parent_path()) {
            Stamp(p);
            if (p == changed || p == p.parent_path()) break;
        }
    }
    static std::string Read(const fs::path& path) { return ReadFile(path); }
    static void SetDosAttrib(const fs::path& path, const std::string& value) {
        ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0)
            << path;
    }
    // A host folder's entries (leftover temporaries show as more).
    static int CountEntries(const fs::path& dir) {
        return int(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

  private:
    static int64_t StartClock() { return now_ = HostClock(); }

    static inline std::atomic<int64_t> now_{0};
    kernel::DeviceConfig saved_ = kernel::CurrentDevice();
    // The clock starts at the host's time before anything here is made: file stamps are the
    // host's, and the kernel compares them with this clock.
    int64_t started_ = StartClock();
    ScratchFolder folder_;  // removed last, once the kernel has let go of it
    std::string top_;
};

// A test with a scratch device of its own; a handle it leaves open is a leak.
template <class Base = ::testing::Test>
class DeviceTest : public Base, protected ScratchDevice {
  protected:
    void TearDown() override { EXPECT_EQ(kernel::OpenHandleCount(), 0); }
};

}  // namespace wce::test

namespace fs = std::filesystem;
using KernelTest = wce::test::DeviceTest<>;
