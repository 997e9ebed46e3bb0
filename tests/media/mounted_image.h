// A filesystem image made in a folder of the test's and mounted through its FUSE driver, so tests
// can run on the media users keep devices on. The driver runs in the foreground as our child;
// a guardian process unmounts and removes the folder if the test process dies.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace media {

namespace fs = std::filesystem;

struct Filesystem {
    const char* name;
    std::vector<std::string> mkfs;    // IMG is replaced by the image path
    std::vector<std::string> driver;  // IMG and MNT are replaced; must stay in the foreground
    bool keepsAttributes;             // hidden and read-only survive on it
    bool asciiNamesOnly;
};

inline const Filesystem kFat{"fat",
                             {"mkfs.fat", "-F", "32", "IMG"},
                             {"fusefat", "-f", "-o", "rw+", "IMG", "MNT"},
                             false,
                             true};
// Below FAT32's minimum size mkfs.fat picks FAT12 or FAT16: the same driver, quick to fill.
inline const Filesystem kSmallFat{"fat", {"mkfs.fat", "IMG"}, kFat.driver, false, true};
inline const Filesystem kNtfs{"ntfs",
                              {"mkntfs", "-F", "-Q", "IMG"},
                              {"ntfs-3g", "-o", "no_detach", "IMG", "MNT"},
                              true,
                              false};

// Test names show the filesystem rather than an address.
inline void PrintTo(const Filesystem* f, std::ostream* os) {
    *os << f->name;
}

// The program's full path, also looking in the sbin folders a non-root PATH leaves out.
inline std::string FindTool(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    std::istringstream dirs(path + ":/usr/sbin:/sbin");
    for (std::string d; std::getline(dirs, d, ':');)
        if (!d.empty() && access((d + "/" + name).c_str(), X_OK) == 0) return d + "/" + name;
    return "";
}

// Starts argv with stdout and stderr going to log; returns the pid, or -1.
inline pid_t Spawn(std::vector<std::string> argv, const fs::path& log, int stdinFd = -1) {
    if (argv[0].find('/') == std::string::npos) argv[0] = FindTool(argv[0]);
    if (argv[0].empty()) return -1;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&fa, stdinFd, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&fa, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

inline int Run(const std::vector<std::string>& argv, const fs::path& log) {
    const pid_t pid = Spawn(argv, log);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MountedImage {
  public:
    // Makes an image of sizeMiB in dir (made here) and mounts it; Error() says why not when that
    // failed.
    MountedImage(const Filesystem& fsys, int sizeMiB, const fs::path& dir) : fs_(fsys) {
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            Fail("no access to /dev/fuse");
            return;
        }
        for (const auto& tool : {fsys.mkfs[0], fsys.driver[0], std::string("fusermount")})
            if (FindTool(tool).empty()) {
                Fail(tool + " is not installed (scripts/deps.sh)");
                return;
            }
        std::error_code ec;
        if (!fs::create_directory(dir, ec)) {
            Fail("cannot make " + dir.string());
            return;
        }
        dir_ = dir;
        StartGuardian();
        fs::create_directory(Mnt());
        std::ofstream(Image()).close();
        fs::resize_file(Image(), std::uintmax_t(sizeMiB) << 20);
        if (Run(Args(fs_.mkfs), Log()) == 0)
            Mount();
        else
            Fail(fs_.mkfs[0] + " failed: " + LogText());
    }
    ~MountedImage() {
        Unmount();
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
        if (guard_ >= 0) close(guard_);
        if (guardian_ > 0) waitpid(guardian_, nullptr, 0);
    }
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;

    const std::string& Error() const { return error_; }
    fs::path Mnt() const { return dir_ / "mnt"; }

    // Mounts again after Unmount (to see what reached the image).
    bool Mount() {
        error_.clear();
        driver_ = Spawn(Args(fs_.driver), Log());
        if (driver_ < 0) {
            Fail(fs_.driver[0] + " did not start");
            return false;
        }
        struct stat parent {
        }, mnt{};
        stat(dir_.c_str(), &parent);
        for (int i = 0; i < 1000; ++i) {
            if (stat(Mnt().c_str(), &mnt) == 0 && mnt.st_dev != parent.st_dev) return true;
            if (waitpid(driver_, nullptr, WNOHANG) == driver_) {
                driver_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Fail("mounting failed: " + LogText());
        Unmount();
        return false;
    }
    // Unmounts and waits for the driver to write out and exit; false if it had to be forced.
    bool Unmount() {
        if (driver_ <= 0) return true;
        bool clean = false;
        for (int i = 0; i < 50 && !clean; ++i) {
            clean = Run({"fusermount", "-u", Mnt().string()}, Log()) == 0;
            if (!clean) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!clean) Run({"fusermount", "-u", "-z", Mnt().string()}, Log());
        for (int i = 0; i < 1000 && waitpid(driver_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (kill(driver_, 0) == 0) {
            kill(driver_, SIGKILL);
            waitpid(driver_, nullptr, 0);
            clean = false;
        }
        driver_ = -1;
        return clean;
    }

    fs::path Image() const { return dir_ / "image"; }

  private:
    fs::path Log() const { return dir_ / "driver.log"; }
    std::string LogText() const {
        std::ifstream in(Log());
        std::string s((std::istreambuf_iterator<char>(in)), {});
        return s.size() > 400 ? s.substr(s.size() - 400) : s;
    }
    void Fail(const std::string& why) { error_ = std::string(fs_.name) + ": " + why; }
    std::vector<std::string> Args(std::vector<std::string> a) const {
        for (auto& s : a) s = s == "IMG" ? Image().string() : s == "MNT" ? Mnt().string() : s;
        return a;
    }
    // The guardian waits for our end of a pipe to close, which also happens when we crash.
    void StartGuardian() {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return;
        const std::string script = "read _; fusermount -u -z \"$0\" 2>/dev/null; rm -rf \"$1\"";
        guardian_ = Spawn({"sh", "-c", script, Mnt().string(), dir_.string()}, "/dev/null", p[0]);
        close(p[0]);
        guard_ = p[1];
    }

    Filesystem fs_;
    fs::path dir_;
    std::string error_;
    pid_t driver_ = -1, guardian_ = -1;
    int guard_ = -1;
};

}  // namespace media
