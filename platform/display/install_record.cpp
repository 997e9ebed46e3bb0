// The log, the progress lines and the cause of a failed copy, from the kernel's activity.
#include "platform/display/install_record.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "platform/display/automation.h"
#include "platform/kernel/activity.h"
#include "platform/kernel/device.h"
#include "platform/user/window_tree.h"

namespace wce::display {
namespace {

using Clock = std::chrono::steady_clock;

// An install shorter than this shows no progress; a longer one a line this often.
constexpr auto kFirstProgress = std::chrono::seconds(3);
constexpr auto kProgressEvery = std::chrono::seconds(5);
// errno's stand-in for an opened log that is no regular file.
constexpr int EFTYPE_NOT_REGULAR = -1;

// Control characters as %XX, and "%" and blanks where asked, so a record stays on its line.
std::string EscapedBytes(const std::string& text, bool percent, bool blanks) {
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || (percent && b == '%') || (blanks && b == ' ')) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// A device path as one field of a line: control characters and "%" as %XX, so that every
// record stays on its line and reads back exactly.
std::string Field(std::u16string_view devicePath) {
    return EscapedBytes(wce::user::Utf16ToUtf8(std::u16string(devicePath)), true, false);
}

constexpr const char* kUnfollowableLink =
    "it is a link that cannot be followed: it leads nowhere, round in a loop, or out of the medium";

// The words for an errno where the kernel gives it a meaning of its own.
const char* Why(std::string_view action, int err, bool differs) {
    if (differs) return "the medium gave back other data than was written";
    if (err == ESTALE) return "another process replaced it while the install worked on it";
    if (action == "claim" && err == EWOULDBLOCK)
        return "another install onto this device is running";
    if (action == "copy" && err == ELOOP) return kUnfollowableLink;
    return std::strerror(err);
}

// The host's errno behind each device error code an open or a read can end in.
constexpr struct {
    DWORD code;
    int err;
} kErrnoOfCode[] = {{ERROR_FILE_NOT_FOUND, ENOENT},
                    {ERROR_PATH_NOT_FOUND, ENOENT},
                    {ERROR_ACCESS_DENIED, EACCES},
                    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
                    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
                    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
                    {ERROR_SHARING_VIOLATION, EBUSY},
                    {ERROR_NOT_READY, ENOMEDIUM},
                    {ERROR_GEN_FAILURE, EIO},
                    {ERROR_NO_UNICODE_TRANSLATION, EILSEQ},
                    {ERROR_INVALID_PARAMETER, EINVAL},
                    {ERROR_WRITE_PROTECT, EROFS},
                    {ERROR_DISK_FULL, ENOSPC}};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Text for one line of the log: control characters as %XX (a blank too, for a field's value).
std::string Escaped(const std::string& text, bool blanks) {
    return EscapedBytes(text, blanks, blanks);
}

std::string Value(const std::string& text) {
    return Escaped(text, true);
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    char text[32];
    gmtime_r(&now, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// The settings of this run that differ from their defaults, as " NAME=VALUE" fields.
std::string ChangedSettings() {
    struct Setting {
        const char* name;
        const char* byDefault;  // nullptr: any value differs
    };
    static constexpr Setting kShown[] = {{"WCE_CODEPAGE", "932"},   {"WCE_VERIFY", nullptr},
                                         {"WCE_DISPLAY", nullptr},  {"WCE_SCRIPT", nullptr},
                                         {"WCE_DPI", "96"},         {"WCE_FONT", nullptr},
                                         {"WCE_FONT_FILE", nullptr}};
    std::string out;
    for (const Setting& setting : kShown) {
        const char* value = std::getenv(setting.name);
        if (value == nullptr ||
            (setting.byDefault != nullptr && std::strcmp(value, setting.byDefault) == 0))
            continue;
        out += std::string(" ") + setting.name + "=" + Value(value);
    }
    return out;
}

class Record final : public wce::kernel::Activity {
  public:
    int logFd = -1;
    bool progress = false;
    std::function<std::pair<int, int>()> counter;

    void FileCopied(std::u16string_view, std::u16string_view to, std::uint64_t bytes) override {
        Began();
        ++m_files;
        m_bytes += bytes;
        m_written += bytes;
        Log("file " + std::to_string(bytes) + " " + Field(to));
        Tick();
    }
    // A file the card already held right: read from it, not written again.
    void FileKept(std::u16string_view, std::u16string_view to, std::uint64_t bytes) override {
        Began();
        ++m_files;
        ++m_same;
        m_bytes += bytes;
        Log("same " + std::to_string(bytes) + " " + Field(to));
        Tick();
    }
    void FolderCreated(std::u16string_view path) override {
        Began();
        ++m_folders;
        Log("folder " + Field(path));
    }
    void Failed(const Failure& f) override {
        const std::string_view action = f.action;
        const std::u16string_view path = f.path;
        const char* why = Why(action, f.err, f.differs);
        const std::string what = std::string(action) + " " + Field(path) + ": " + why;
        m_failure = "cannot " + what;
        Log("error " + what);
        // The host path is looked up when the cause is shown, not here inside the kernel's call.
        Keep(action, path, "", why);
    }

    // A failure the program found itself; the host path comes with it.
    void Found(std::string_view action, std::u16string_view path, const std::string& host,
               const std::string& why) {
        const std::string what = std::string(action) + " " + Field(path) + ": " + why;
        m_failure = "cannot " + what;
        Log("error " + what);
        Keep(action, path, host, why);
    }
    void Skipped(std::u16string_view path) { Log("skipped " + Field(path)); }

    void Noticed(std::string_view sentence) override {
        // Said once an install, however many filesystems or trees it concerns.
        if (!m_noticed.insert(std::string(sentence)).second) return;
        std::fprintf(stderr, "%.*s\n", static_cast<int>(sentence.size()), sentence.data());
        Log("note " + std::string(sentence));
    }

    // The line that opens an install's records.
    void Start(std::u16string_view key, std::u16string_view name, const std::string& version) {
        const auto& device = wce::kernel::CurrentDevice();
        m_installStarted = Clock::now();
        Log("install " + UtcNow() + " version=" + Value(version) +
            " key=" + Value(wce::user::Utf16ToUtf8(std::u16string(key))) +
            " name=" + Value(wce::user::Utf16ToUtf8(std::u16string(name))) + " medium=" +
            Value(device.hostMedium) + " device=" + Value(device.hostRoot) + ChangedSettings());
    }
    void Warning(const std::string& line) { Log("warning " + Escaped(line, false)); }

    void Outcome(int status) {
        Close(status == 0 ? "completed" : "failed", status == 0 ? "" : ": " + Cause());
    }
    void Interrupted(const std::string& what) { Close("interrupted", ": " + what); }

    void Close(const std::string& kind, const std::string& tail) {
        Log(kind + " files=" + std::to_string(m_files) + " same=" + std::to_string(m_same) +
            " folders=" + std::to_string(m_folders) + " bytes=" + std::to_string(m_bytes) +
            " written=" + std::to_string(m_written) + Escaped(tail, false));
        // A run nobody watches ends each install with what it did, in one line.
        if (Scripted()) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f s",
                          Seconds(Clock::now() - m_installStarted));
            Report("summary: " + kind + ": " + std::to_string(m_files) + " files installed (" +
                   std::to_string(m_same) + " kept as the card held them), " +
                   std::to_string(m_written) + " bytes written, " + std::to_string(m_folders) +
                   " folders made, " + seconds);
        }
        m_files = m_folders = m_same = 0;
        m_bytes = m_written = 0;
        m_failure.clear();
        m_failurePath.clear();
        m_noticed.clear();
        m_running = false;
    }

    std::string Cause() const {
        if (m_failure.empty())
            return "no file or folder operation failed, and the install found nothing to name";
        const std::string host = m_failureHost.empty() ? HostPathFor(m_failurePath) : m_failureHost;
        return "cannot " + m_failureAction + " " + Field(m_failurePath) +
               (host.empty() ? "" : " (" + host + ")") + ": " + m_failureWhy;
    }

    void Tick() {
        if (!progress || !m_running) return;
        const Clock::time_point now = Clock::now();
        if (now - m_started < kFirstProgress || now - m_lastLine < kProgressEvery) return;
        m_lastLine = now;
        Report(ProgressLine(now));
    }

  private:
    void Keep(std::string_view action, std::u16string_view path, const std::string& host,
              const std::string& why) {
        m_failureAction = action;
        m_failurePath = path;
        m_failureHost = host;
        m_failureWhy = why;
    }

    void Began() {
        if (m_running) return;
        m_running = true;
        m_started = m_lastLine = Clock::now();
        m_lastLine -= kProgressEvery;
    }

    std::string ProgressLine(Clock::time_point now) const {
        const double elapsed = Seconds(now - m_started);
        const double mb = static_cast<double>(m_bytes) / 1e6;
        const auto [done, total] =
            counter ? counter() : std::pair<int, int>{static_cast<int>(m_files), 0};
        std::string line =
            "progress: " + std::to_string(done) + (total > 0 ? " / " + std::to_string(total) : "");
        char figures[128];
        std::snprintf(figures, sizeof figures,
                      " files, %.1f MB (%.1f MB checked, %.1f MB written), %.1f MB/s", mb,
                      static_cast<double>(m_bytes - m_written) / 1e6,
                      static_cast<double>(m_written) / 1e6, mb / elapsed);
        line += figures;
        if (done > 0 && total >= done) {
            std::snprintf(figures, sizeof figures, ", about %.0f s left",
                          elapsed * (total - done) / done);
            line += figures;
        }
        return line;
    }

    void Log(const std::string& record) {
        if (logFd < 0) return;
        const std::string line = record + "\n";
        // One write a record: a run killed at any moment leaves whole lines up to its last file.
        for (std::size_t at = 0; at < line.size();) {
            const ssize_t n = write(logFd, line.data() + at, line.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    }

    std::uint64_t m_files = 0, m_folders = 0, m_bytes = 0;
    std::uint64_t m_same = 0, m_written = 0;  // files kept as the card held them; bytes written
    std::string m_failure;
    // The parts of the last failure, for its cause with the host path.
    std::string m_failureAction, m_failureWhy;
    std::u16string m_failurePath;
    std::string m_failureHost;  // as the program found it; else looked up from m_failurePath
    std::set<std::string> m_noticed;
    bool m_running = false;
    Clock::time_point m_started{}, m_lastLine{};
    Clock::time_point m_installStarted = Clock::now();
};

Record& TheRecord() {
    static Record record;
    return record;
}

// The log is reached without any symbolic link on its path: a name planted in any folder on the
// way must not make an install run as root append to (or create) a file it leads to.
int OpenComponentwise(const char* path, int flags) {
    std::string_view rest(path);
    int dir = open(rest.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    while (dir >= 0) {
        while (rest.starts_with('/')) rest.remove_prefix(1);
        const std::size_t cut = rest.find('/');
        const std::string part(rest.substr(0, cut));
        if (cut == std::string_view::npos) {
            const int fd =
                part.empty() ? (errno = EISDIR, -1) : openat(dir, part.c_str(), flags, 0644);
            const int err = errno;
            close(dir);
            errno = err;
            return fd;
        }
        rest.remove_prefix(cut);
        const int next = openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int err = errno;
        struct stat st {};
        if (next < 0 && fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            err = ELOOP;
        close(dir);
        dir = next;
        errno = err;
    }
    return -1;
}

int OpenLog(const char* path) {
    if (std::string_view(path) == "-") return STDERR_FILENO;
    // Non-blocking, so that a FIFO nobody reads cannot hold the start up.
    const int flags =
        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = 0644;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
    if (fd < 0 && (errno == ENOSYS || errno == EPERM)) fd = OpenComponentwise(path, flags);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EFTYPE_NOT_REGULAR;
        return -1;
    }
    return fd;
}

std::string WhyNoLog(int err) {
    switch (err) {
        case ELOOP:
            return "a symbolic link stands on its path; name the file by a path without links";
        case EFTYPE_NOT_REGULAR:
            return "it is not a regular file; name a file, or - for standard error";
        case ENXIO:
            return "it is not a regular file (a FIFO nobody reads); name a file, or - for standard "
                   "error";
        case EISDIR:
            return "it is a folder; name a file in it";
        default:
            return std::strerror(err);
    }
}

}  // namespace

void StartInstallRecord() {
    Record& r = TheRecord();
    if (const char* path = std::getenv("WCE_LOG"); path != nullptr && *path != '\0') {
        r.logFd = OpenLog(path);
        if (r.logFd < 0) {
            std::fprintf(stderr, "SETUP: WCE_LOG=\"%s\": cannot write the log there: %s\n", path,
                         WhyNoLog(errno).c_str());
            std::exit(2);
        }
    }
    wce::kernel::SetActivity(&r);
}

void DeclareFileCounter(std::function<std::pair<int, int>()> counter) {
    TheRecord().counter = std::move(counter);
}

void EnableProgressLines(bool enable) {
    TheRecord().progress = enable;
}

void ProgressTick() {
    TheRecord().Tick();
}

void RecordOutcome(int status) {
    TheRecord().Outcome(status);
}

void RecordInstallStart(std::u16string_view key, std::u16string_view name,
                        const std::string& version) {
    TheRecord().Start(key, name, version);
}

void RecordWarning(const std::string& line) {
    TheRecord().Warning(line);
}

void RecordInterrupted(const std::string& what) {
    TheRecord().Interrupted(what);
}

std::string DeviceErrorWords(std::uint32_t code) {
    if (code == ERROR_CANT_RESOLVE_FILENAME) return kUnfollowableLink;
    if (code == ERROR_INVALID_NAME) return "the name is not one the device's paths can hold";
    for (const auto& e : kErrnoOfCode)
        if (e.code == code) return Why("", e.err, false);
    return "device error " + std::to_string(code);
}

std::string CopyFailureCause() {
    return TheRecord().Cause();
}

void RecordFailure(std::string_view action, std::u16string_view devicePath,
                   const std::string& hostPath, const std::string& why) {
    TheRecord().Found(action, devicePath, hostPath, why);
}

void RecordSkipped(std::u16string_view devicePath) {
    TheRecord().Skipped(devicePath);
}

std::string HostPathFor(std::u16string_view devicePath, bool asSpelt) {
    // The deepest folder that resolves, then the rest as spelt: a path may name what is missing
    // (a folder a fresh device lacks) or be too long to resolve at all.
    std::u16string head(devicePath);
    std::string tail;
    if (!asSpelt)
        if (const auto host = wce::kernel::HostPathOf(head)) return *host;
    for (auto cut = head.rfind(u'\\'); cut != std::u16string::npos && cut > 0;
         cut = head.rfind(u'\\')) {
        tail = "/" + wce::user::Utf16ToUtf8(head.substr(cut + 1)) + tail;
        head.resize(cut);
        if (const auto host = wce::kernel::HostPathOf(head)) return *host + tail;
    }
    return "";
}

}  // namespace wce::display
