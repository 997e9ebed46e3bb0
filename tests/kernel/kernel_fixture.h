// A scratch device for kernel tests: a temporary host folder holding the device root and the
// installation medium, mapped for the duration of one test.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/kernel/device.h"
#include "platform/kernel/host/faults.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"

namespace fs = std::filesystem;

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "wce-kernel-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        top_ = tmpl;
        fs::create_directories(root());
        fs::create_directories(medium());
        wce::kernel::DeviceConfig c;
        c.hostRoot = root();
        c.hostMedium = medium();
        wce::kernel::ConfigureDevice(c);
        wce::kernel::ClearFaults();
    }
    void TearDown() override {
        wce::kernel::ClearFaults();
        wce::kernel::host::RestoreOps();
        wce::kernel::fsinfo::SetClock(nullptr);
        EXPECT_EQ(wce::kernel::OpenHandleCount(), 0);
        std::error_code ec;
        for (auto& p : fs::recursive_directory_iterator(top_, ec))
            chmod(p.path().c_str(), 0700);
        fs::remove_all(top_, ec);
    }

    std::string root() const { return top_ + "/root"; }
    std::string medium() const { return top_ + "/medium"; }
    const std::string& top() const { return top_; }

    static void Write(const std::string& path, const std::string& data) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << data;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void SetDosAttrib(const std::string& path, const std::string& value) {
        ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0);
    }
    // Waits for the next tick of the coarse clock: changes made behind the kernel's back are seen
    // from then on (the kernel compares folder stamps at most once per tick).
    static void AfterClockTick() {
        timespec start {}, now {};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &start);
        do {
            usleep(500);
            clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        } while (now.tv_sec == start.tv_sec && now.tv_nsec == start.tv_nsec);
    }
    // Entries of a host folder other than the given names (for leftover temporary files).
    static int CountEntries(const std::string& dir) {
        int n = 0;
        for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++n;
        return n;
    }

private:
    std::string top_;
};
