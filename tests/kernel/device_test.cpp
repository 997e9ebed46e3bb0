// Settings from the environment.
#include "platform/kernel/device.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/scratch_folder.h"

using namespace wce::kernel;
namespace fs = std::filesystem;

namespace {

struct EnvScope {
    ~EnvScope() {
        for (const char* v : {"WCE_ROOT", "WCE_MEDIUM", "WCE_CODEPAGE", "XDG_DATA_HOME"})
            unsetenv(v);
    }
};

DeviceConfig Configured() {
    DeviceConfig c;
    std::string problem;
    EXPECT_TRUE(DeviceConfigFromEnvironment("x", c, problem)) << problem;
    return c;
}

}  // namespace

TEST(KernelDevice, SettingsChooseFoldersAndCodePage) {
    EnvScope env;
    const wce::test::ScratchFolder scratch;
    const fs::path& dir = scratch.path();
    fs::create_directories(dir / "dev");
    fs::create_directories(dir / "med");
    setenv("WCE_ROOT", (dir / "dev").c_str(), 1);
    setenv("WCE_MEDIUM", (dir / "med").c_str(), 1);
    setenv("WCE_CODEPAGE", "1252", 1);
    DeviceConfig c = Configured();
    EXPECT_EQ(c.hostRoot, (dir / "dev").string());
    EXPECT_EQ(c.hostMedium, (dir / "med").string());
    EXPECT_EQ(c.codePage, 1252u);
    EXPECT_EQ(c.exeName, u"kernel_tests.exe");  // the test binary has no extension
}

TEST(KernelDevice, DefaultDeviceIsCreatedLikeAFreshOne) {
    EnvScope env;
    const wce::test::ScratchFolder scratch;
    const fs::path& dir = scratch.path();
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    DeviceConfig c = Configured();
    EXPECT_EQ(c.hostRoot, (dir / "data" / "wce-device").string());
    EXPECT_TRUE(fs::is_directory(dir / "data/wce-device/ROMDisk/PROGRAM/TAV"));
    EXPECT_TRUE(fs::is_directory(dir / "data/wce-device/ROMDisk2/PROGRAM/SETAPP"));
    EXPECT_EQ(c.codePage, 932u);
}

TEST(KernelDevice, BadSettingsAreRefusedInWords) {
    struct Row {
        const char* variable;
        const char* value;
        const char* message;
    } rows[] = {
        {"WCE_ROOT", "/nonexistent/wce-root", "WCE_ROOT=/nonexistent/wce-root"},
        {"WCE_MEDIUM", "/nonexistent/medium", "WCE_MEDIUM=/nonexistent/medium"},
        {"WCE_CODEPAGE", "77", "WCE_CODEPAGE=77"},
        {"WCE_CODEPAGE", "932x", "WCE_CODEPAGE=932x"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.variable);
        EnvScope env;
        setenv("WCE_ROOT", "/tmp", 1);
        setenv(r.variable, r.value, 1);
        DeviceConfig c;
        std::string problem;
        EXPECT_FALSE(DeviceConfigFromEnvironment("x", c, problem));
        EXPECT_NE(problem.find(r.message), std::string::npos) << problem;
    }
}

TEST(KernelDevice, MediumIsTheWorkingFolderWhenOnlyItHoldsACatalogue) {
    EnvScope env;
    const wce::test::ScratchFolder scratch;
    const fs::path& dir = scratch.path();
    fs::create_directories(dir / "card");
    fs::create_directories(dir / "empty");
    setenv("WCE_ROOT", dir.c_str(), 1);
    const fs::path before = fs::current_path();
    fs::current_path(dir / "empty");
    const std::string exeDir = fs::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(Configured().hostMedium, exeDir);
    { std::ofstream(dir / "card" / "setup.ini") << "[PRODUCT]\r\n"; }
    fs::current_path(dir / "card");
    EXPECT_EQ(Configured().hostMedium, (dir / "card").string());
    setenv("WCE_MEDIUM", (dir / "empty").c_str(), 1);
    EXPECT_EQ(Configured().hostMedium, (dir / "empty").string());
    fs::current_path(before);
}

// Removing a scratch folder makes its entries writable first, but never what a link leads to.
TEST(ScratchFolder, RemovalLeavesWhatItsLinksLeadToAlone) {
    const wce::test::ScratchFolder outside;
    fs::create_directory(outside.path() / "kept");
    fs::permissions(outside.path() / "kept", fs::perms(0555));
    {
        const wce::test::ScratchFolder scratch;
        fs::create_directory_symlink(outside.path() / "kept", scratch.path() / "link");
    }
    EXPECT_EQ(fs::status(outside.path() / "kept").permissions(), fs::perms(0555));
}
