// What an install may trust, through the real program: one installer at a time on a device, and
// a log that never writes through a planted link.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/e2e/run_program.h"

namespace {

using e2e::Scratch;
namespace fs = std::filesystem;

constexpr const char* kFailed = "message: SETUP: Failed in copying files.";

void WriteFile(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

}  // namespace

// Another installer holds the device: the second fails at once and changes nothing there.
TEST(TrustE2E, SecondInstallerOnADeviceFailsAndChangesNothing) {
    Scratch s;
    e2e::CopySampleMedium(s);
    // Held as an installer holds it: the device's lock file outside the card.
    if (!fs::is_directory("/run/lock")) GTEST_SKIP() << "this host has no /run/lock";
    struct stat dev {};
    ASSERT_EQ(stat(s.Device().c_str(), &dev), 0);
    char lock[96];
    std::snprintf(lock, sizeof lock, "/run/lock/wce-setup-%llx-%llx.lock",
                  static_cast<unsigned long long>(dev.st_dev),
                  static_cast<unsigned long long>(dev.st_ino));
    const int held = open(lock, O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0) << lock;
    const e2e::RunResult busy = s.Run("click 1001\n");
    EXPECT_EQ(busy.exitStatus, 3) << busy.err;
    EXPECT_NE(busy.out.find(kFailed), std::string::npos) << busy.out;
    EXPECT_NE(busy.err.find("another install onto this device is running"), std::string::npos)
        << busy.err;
    EXPECT_TRUE(fs::is_empty(s.Device() / "ROMDisk2/PROGRAM/SETAPP"));
    EXPECT_TRUE(fs::is_empty(s.Device() / "ROMDisk/PROGRAM/TAV"));
    unlink(lock);
    close(held);
    EXPECT_EQ(s.Run("click 1001\n").exitStatus, 0);
}

// A log named by a link to a file is refused before anything is installed, and that file stays.
TEST(TrustE2E, LogThatIsALinkToAFileIsRefused) {
    Scratch s;
    e2e::CopySampleMedium(s);
    WriteFile(s.Base() / "precious", "keep me");
    fs::create_symlink(s.Base() / "precious", s.Base() / "install.log");
    const e2e::RunResult r =
        s.Run("click 1001\n", {{"WCE_LOG", (s.Base() / "install.log").string()}});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(e2e::ReadAll(s.Base() / "precious"), "keep me");
    EXPECT_TRUE(fs::is_empty(s.Device() / "ROMDisk/PROGRAM/TAV"));
    // Standard error is named "-", not through the system's links to it.
    const e2e::RunResult err = s.Run("click 1001\n", {{"WCE_LOG", "-"}});
    EXPECT_EQ(err.exitStatus, 0) << err.err;
    EXPECT_NE(err.err.find("completed files="), std::string::npos) << err.err;
}

// Installing the same package again writes only what differs: a file the card holds right is
// read back and kept ("same" in the log), one changed behind the installer's back is written
// again, one made read-only is kept and made as the package's; read-back off writes everything.
TEST(TrustE2E, ReinstallWritesOnlyWhatDiffers) {
    Scratch s;
    e2e::CopySampleMedium(s);
    const fs::path log = s.Base() / "install.log", tav = s.Device() / "ROMDisk/PROGRAM/TAV";
    const auto install = [&](const char* verify) {
        fs::remove(log);  // the log keeps every install: this one's records alone
        const e2e::RunResult r =
            s.Run("click 1001\n", {{"WCE_VERIFY", verify}, {"WCE_LOG", log.string()}});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return e2e::ReadAll(log);
    };
    install("1");
    std::string again = install("1");
    EXPECT_NE(again.find(" written=0\n"), std::string::npos) << again;
    EXPECT_EQ(e2e::LinesStartingWith(again, "file ").size(), 0u) << again;
    std::string messages = e2e::ReadAll(tav / "Messages.txt");
    messages[0] ^= 1;
    WriteFile(tav / "Messages.txt", messages);
    fs::permissions(tav / "Voice/Prompts.txt", fs::perms::owner_read | fs::perms::group_read);
    again = install("1");
    EXPECT_EQ(e2e::LinesStartingWith(again, "file ").size(), 1u) << again;
    EXPECT_NE(again.find("file " + std::to_string(messages.size()) +
                         " \\ROMDisk\\PROGRAM\\TAV\\Messages.txt"),
              std::string::npos)
        << again;
    EXPECT_EQ(e2e::ReadAll(tav / "Messages.txt"),
              e2e::ReadAll(s.Medium() / "PRODUCT1/TAV/Messages.txt"));
    EXPECT_TRUE((fs::status(tav / "Voice/Prompts.txt").permissions() & fs::perms::owner_write) !=
                fs::perms::none);
    const std::string off = install("0");
    EXPECT_EQ(e2e::LinesStartingWith(off, "same ").size(), 0u) << off;
}

// A link in the package that cannot be followed fails the install and is named, never dropped.
TEST(TrustE2E, LinkInThePackageThatCannotBeFollowedFailsTheInstall) {
    for (const char* target : {"nowhere", "/etc/hostname", "loop.txt"}) {
        SCOPED_TRACE(target);
        Scratch s;
        e2e::CopySampleMedium(s);
        fs::create_symlink(target, s.Medium() / "PRODUCT1/TAV/loop.txt");
        const e2e::RunResult r = s.Run("click 1001\n");
        EXPECT_EQ(r.exitStatus, 3) << r.err;
        EXPECT_NE(r.err.find("loop.txt"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("a link that cannot be followed"), std::string::npos) << r.err;
    }
}
