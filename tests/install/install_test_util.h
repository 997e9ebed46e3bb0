// Temporary device trees for the installation tests.
#pragma once

#include <sys/xattr.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/kernel/device.h"

namespace install_test {

namespace fs = std::filesystem;

// A fresh host folder removed with everything in it when the test ends.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "wce-install-XXXXXX").string();
        m_path = ::mkdtemp(tmpl.data()) ? fs::path(tmpl) : fs::path();
    }
    ~TempDir()
    {
        std::error_code ec;
        // Read-only copies must not keep their folder from being removed.
        for (auto& e : fs::recursive_directory_iterator(m_path, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

inline void WriteFile(const fs::path& p, const std::string& data = "x")
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

inline std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Hidden as Windows-compatibility tools mark it on Linux.
inline void MarkHidden(const fs::path& p)
{
    ASSERT_EQ(::setxattr(p.c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0) << p;
}

inline bool IsHidden(const fs::path& p)
{
    char buf[64] = {};
    const ssize_t n = ::getxattr(p.c_str(), "user.DOSATTRIB", buf, sizeof buf - 1);
    return n > 0 && (std::strtoul(buf, nullptr, 16) & 0x2) != 0;
}

inline void MarkReadOnly(const fs::path& p)
{
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

inline bool IsReadOnly(const fs::path& p)
{
    return (fs::status(p).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// A device whose root "\" is <tmp>/device and whose medium "\Storage Card\" is <tmp>/medium.
class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Device());
        fs::create_directories(Medium());
        wce::kernel::DeviceConfig config;
        config.hostRoot = Device().string();
        config.hostMedium = Medium().string();
        wce::kernel::ConfigureDevice(config);
    }
    fs::path Device() const { return m_tmp.path() / "device"; }
    fs::path Medium() const { return m_tmp.path() / "medium"; }

private:
    TempDir m_tmp;
};

}  // namespace install_test
