// The log, the progress lines and the cause of a failed copy, from the kernel's activity.
#include "platform/display/install_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

#include "platform/display/automation.h"
#include "platform/kernel/activity.h"
#include "platform/user/window_tree.h"

namespace wce::display {
namespace {

using Clock = std::chrono::steady_clock;

// An install shorter than this shows no progress; a longer one a line this often.
constexpr auto kFirstProgress = std::chrono::seconds(3);
constexpr auto kProgressEvery = std::chrono::seconds(5);

// A device path as one field of a line: control characters and "%" as %XX, so that every
// record stays on its line and reads back exactly.
std::string Field(std::u16string_view devicePath) {
    std::string out;
    for (char c : wce::user::Utf16ToUtf8(std::u16string(devicePath))) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || b == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class Record final : public wce::kernel::Activity {
public:
    int logFd = -1;
    bool progress = false;
    std::function<std::pair<int, int>()> counter;

    void FileCopied(std::u16string_view, std::u16string_view to, std::uint64_t bytes) override {
        Began();
        ++m_files;
        m_bytes += bytes;
        Log("file " + std::to_string(bytes) + " " + Field(to));
        Tick();
    }
    void FolderCreated(std::u16string_view path) override {
        Began();
        ++m_folders;
        Log("folder " + Field(path));
    }
    void Failed(std::string_view action, std::u16string_view path, int err) override {
        // The kernel's read-back tells a difference by EBADMSG, whose own text says nothing here.
        const char* why = err == EBADMSG ? "the medium gave back other data than was written" : std::strerror(err);
        const std::string what = std::string(action) + " " + Field(path) + ": " + why;
        m_failure = "cannot " + what;
        Log("error " + what);
    }

    void Outcome(int status) {
        Log(std::string(status == 0 ? "completed" : "failed") + " files=" + std::to_string(m_files) +
            " folders=" + std::to_string(m_folders) + " bytes=" + std::to_string(m_bytes));
        m_files = m_folders = 0;
        m_bytes = 0;
        m_failure.clear();
        m_running = false;
    }

    std::string Cause() const {
        return m_failure.empty() ? "no file or folder operation failed: a path of the package may be longer than "
                                   "the device's paths can be"
                                 : m_failure;
    }

    void Tick() {
        if (!progress || !m_running) return;
        const Clock::time_point now = Clock::now();
        if (now - m_started < kFirstProgress || now - m_lastLine < kProgressEvery) return;
        m_lastLine = now;
        Report(ProgressLine(now));
    }

private:
    void Began() {
        if (m_running) return;
        m_running = true;
        m_started = m_lastLine = Clock::now();
        m_lastLine -= kProgressEvery;
    }

    std::string ProgressLine(Clock::time_point now) const {
        const double elapsed = Seconds(now - m_started);
        const double mb = static_cast<double>(m_bytes) / 1e6;
        const auto [done, total] = counter ? counter() : std::pair<int, int>{static_cast<int>(m_files), 0};
        std::string line = "progress: " + std::to_string(done) + (total > 0 ? " / " + std::to_string(total) : "");
        char figures[96];
        std::snprintf(figures, sizeof figures, " files, %.1f MB, %.1f MB/s", mb, mb / elapsed);
        line += figures;
        if (done > 0 && total >= done) {
            std::snprintf(figures, sizeof figures, ", about %.0f s left", elapsed * (total - done) / done);
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
    std::string m_failure;
    bool m_running = false;
    Clock::time_point m_started{}, m_lastLine{};
};

Record& TheRecord() {
    static Record record;
    return record;
}

}  // namespace

void StartInstallRecord() {
    Record& r = TheRecord();
    if (const char* path = std::getenv("WCE_LOG"); path != nullptr && *path != '\0') {
        r.logFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_APPEND, 0644);
        if (r.logFd < 0) {
            std::fprintf(stderr, "WCE_LOG=\"%s\": cannot write the log there: %s\n", path, std::strerror(errno));
            std::exit(2);
        }
    }
    wce::kernel::SetActivity(&r);
}

void DeclareFileCounter(std::function<std::pair<int, int>()> counter) { TheRecord().counter = std::move(counter); }

void EnableProgressLines(bool enable) { TheRecord().progress = enable; }

void ProgressTick() { TheRecord().Tick(); }

void RecordOutcome(int status) { TheRecord().Outcome(status); }

std::string CopyFailureCause() { return TheRecord().Cause(); }

}  // namespace wce::display
