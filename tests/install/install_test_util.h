// Temporary device trees for the installation tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/scratch_device.h"

namespace install_test {

namespace fs = std::filesystem;

// A fresh host folder removed with everything in it when the test ends.
using TempDir = wce::test::ScratchFolder;

inline void WriteFile(const fs::path& p, const std::string& data = "x") {
    wce::test::WriteFile(p, data);
}

using wce::test::ReadFile;

// Hidden as Windows-compatibility tools mark it on Linux.
inline void MarkHidden(const fs::path& p) {
    ASSERT_EQ(::setxattr(p.c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0) << p;
}

inline bool IsHidden(const fs::path& p) {
    char buf[64] = {};
    const ssize_t n = ::getxattr(p.c_str(), "user.DOSATTRIB", buf, sizeof buf - 1);
    return n > 0 && (std::strtoul(buf, nullptr, 16) & 0x2) != 0;
}

inline void MarkReadOnly(const fs::path& p) {
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

inline bool IsReadOnly(const fs::path& p) {
    return (fs::status(p).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// A device whose root "\" and medium "\Storage Card\" are scratch folders, mapped for the test.
class DeviceFixture : public ::testing::Test, protected wce::test::ScratchDevice {
  protected:
    fs::path Device() const { return root(); }
    fs::path Medium() const { return medium(); }
};

}  // namespace install_test
