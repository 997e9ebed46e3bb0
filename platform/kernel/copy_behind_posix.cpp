#include "platform/kernel/copy_behind.h"

#include <fcntl.h>
#include <pthread.h>
#include <linux/fs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/kernel/changes.h"
#include "platform/kernel/device.h"
#include "platform/kernel/context.h"

namespace wce::kernel::behind {
namespace {

// Copies queued at most: each holds its source open, and the files shown ahead of their copy are
// at most this many.
constexpr size_t kCapacity = 64;
// A sleeping worker is woken once this many wait, so it copies in runs rather than one by one.
constexpr size_t kWakeAt = 8;

std::atomic<bool> g_forked{false};
Status g_failure;  // the caller's thread only

enum class State : unsigned char { Queued, Running, Done, Returned };

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

// A name as a case-blind lookup sees it: a hash of its ASCII letters folded, or 0 for a name
// beyond ASCII, which is taken to match any.
uint64_t NameKey(std::string_view name) {
    uint64_t h = 1469598103934665603ULL;
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return 0;
        h = (h ^ static_cast<unsigned char>(FoldAscii(c))) * 1099511628211ULL;
    }
    return h | 1;
}

// A copy the worker made: the name it linked, in its host folder.
struct Made {
    std::string dir, name;
};

struct Entry {
    Job job;
    size_t dirHash = 0;
    uint64_t nameKey = 0;
    State state = State::Queued;
    // Whether a call on name in dir (any name, for an empty one) must wait for this copy.
    bool Touches(std::string_view dir, size_t hash, std::string_view name, uint64_t key) const {
        const bool anyName = name.empty() || key == 0 || nameKey == 0;
        // The keys first: the copies queued are mostly of one folder, whose path would be
        // compared for each of them.
        if (hash != dirHash || (!anyName && key != nameKey) || dir != job.dir) return false;
        if (anyName) return true;
        // Both ASCII here (NameKey): equal but for the case of their letters.
        return std::equal(name.begin(), name.end(), job.name.begin(), job.name.end(),
                                            [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
    }
};

bool Fill(const Job& job, int out) {
    if (job.size == 0) return true;
    if (job.clone)
        return host::Ioctl(out, FICLONE, reinterpret_cast<void*>(static_cast<std::intptr_t>(job.in.get()))) == 0;
    off_t pos = 0;
    if (job.range) {
        for (auto left = static_cast<size_t>(job.size); left > 0;) {
            const ssize_t n = host::CopyFileRange(job.in.get(), &pos, out, left);
            if (n == 0) return true;  // the source shrank meanwhile
            if (n < 0 && errno != EINTR) return false;
            if (n > 0) left -= static_cast<size_t>(n);
        }
        return true;
    }
    return CopyByReadWrite(job.in.get(), out, pos).ok();
}

// The target folder, kept open from one copy of a run to the next (a walk fills one folder at a
// time), so the host looks up one name, not a path; each run opens it afresh.
struct OpenTarget {
    std::string path;
    host::Fd dir;
};

// The worker's whole part of a copy; false hands it back.
bool Copy(const Job& job, OpenTarget& target) {
    host::Fd& dir = target.dir;
    if (!dir.valid() || target.path != job.dir) {
        dir.reset(host::OpenAt(AT_FDCWD, job.dir.c_str(), O_PATH | O_DIRECTORY));
        target.path = dir.valid() ? job.dir : std::string();
        if (!dir.valid()) return false;
    }
    return Fill(job, job.out.get()) && changes::LinkUnnamedAt(job.out.get(), dir.get(), job.name.c_str()).ok();
}

class Worker final : public Thread {
public:
    // Nullptr when no thread can be had; started with the first copy queued, stopped and joined
    // by the kernel context at exit after every queued copy is made.
    static Worker* Get() {
        static Worker* w = [] () -> Worker* {
            auto* created = new Worker;
            if (!created->thread_.joinable()) return nullptr;
            Ctx().Adopt(created);
            return created;
        }();
        Instance() = w;
        return w;
    }
    // Read by the enumeration helper too (Busy).
    static std::atomic<Worker*>& Instance() {
        static std::atomic<Worker*> w{nullptr};
        return w;
    }
    // False in a forked child, which has no worker: what the parent queued is the parent's.
    bool Owned() const { return !g_forked.load(std::memory_order_relaxed); }

    // False, with job kept, when taking in the full queue turned up a failure: the caller reports
    // it instead of adding a copy after it.
    bool Add(Job& job) {
        std::unique_lock lock(mu_);
        // A full queue: what the worker finished or handed back is taken in; only while the
        // oldest copy is still to be made is the worker waited for (it tells of every run).
        while (jobs_.size() >= kCapacity) {
            if (jobs_.front().state == State::Queued || jobs_.front().state == State::Running) {
                Wait(lock);
                continue;
            }
            lock.unlock();
            Settle(false);
            if (!g_failure) return false;
            lock.lock();
        }
        const size_t hash = std::hash<std::string_view>{}(job.dir);
        const uint64_t key = NameKey(job.name);
        jobs_.push_back(Entry{std::move(job), hash, key});
        Mark(jobs_.back());
        active_.store(true, std::memory_order_release);
        if (sleeping_ && ++waiting_ >= kWakeAt) work_.notify_one();
        return true;
    }

    bool Active() const { return active_.load(std::memory_order_acquire); }
    // Whether there is enough to take in to be worth a lock: half a queue, or a copy handed back.
    bool Due() const { return returned_.load(std::memory_order_acquire) || jobs_.size() >= kCapacity / 2; }

    // Without the lock: only the caller's thread adds and removes jobs, and the worker changes
    // nothing but their states and sources.
    bool Touches(std::string_view dir, std::string_view name) const {
        const size_t hash = std::hash<std::string_view>{}(dir);
        const uint64_t key = name.empty() ? 0 : NameKey(name);
        if (key != 0 && !unfiltered_) {
            const size_t bit = Bit(hash, key);
            if (((filter_[bit >> 6] >> (bit & 63)) & 1) == 0) return false;
        }
        return std::any_of(jobs_.begin(), jobs_.end(),
                           [&](const Entry& e) { return e.Touches(dir, hash, name, key); });
    }

    // Takes the finished copies from the front, then any handed back (all of the rest); with
    // wait, until none is left.
    void Take(bool wait, std::vector<Made>& done, std::vector<Job>& back) {
        std::unique_lock lock(mu_);
        const size_t queued = jobs_.size();
        for (;;) {
            while (!jobs_.empty() && jobs_.front().state == State::Done) {
                done.push_back({std::move(jobs_.front().job.dir), std::move(jobs_.front().job.name)});
                jobs_.pop_front();
            }
            if (!jobs_.empty() && jobs_.front().state == State::Returned) {
                for (Entry& e : jobs_) back.push_back(std::move(e.job));
                jobs_.clear();
                stopped_ = false;
                returned_.store(false, std::memory_order_relaxed);
            }
            if (!wait || jobs_.empty()) break;
            Wait(lock);
        }
        if (jobs_.size() != queued) {
            filter_.fill(0);
            unfiltered_ = false;
            for (const Entry& e : jobs_) Mark(e);
        }
        active_.store(!jobs_.empty(), std::memory_order_release);
    }

    void Quiesce() override { Settle(true); }

    void Stop() override {
        Settle(true);
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mu_);
            stopping_ = true;
            work_.notify_one();
        }
        // A forked child has no such thread to wait for.
        if (Owned()) thread_.join();
        else thread_.detach();
    }

private:
    // One bit of the filter for a name in a folder.
    static size_t Bit(size_t dirHash, uint64_t key) {
        return static_cast<size_t>(((dirHash ^ key) * 0x9E3779B97F4A7C15ULL) >> 54);
    }
    void Mark(const Entry& e) {
        if (e.nameKey == 0) {
            unfiltered_ = true;
            return;
        }
        const size_t bit = Bit(e.dirHash, e.nameKey);
        filter_[bit >> 6] |= uint64_t{1} << (bit & 63);
    }

    Worker() {
        pthread_atfork(nullptr, nullptr, [] { g_forked.store(true, std::memory_order_relaxed); });
        try {
            thread_ = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
            // No second thread: every copy is made by its caller.
        }
    }

    // The caller waits for the worker: it is woken first, whatever it has been given.
    void Wait(std::unique_lock<std::mutex>& lock) {
        waiting_ = kWakeAt;
        work_.notify_one();
        callerWaits_ = true;
        progress_.wait(lock);
        callerWaits_ = false;
    }

    // Takes every queued copy at once, so the lock is held once per run rather than per file.
    bool TakeQueued(std::vector<Entry*>& run) {
        run.clear();
        if (stopped_) return false;
        for (Entry& e : jobs_)
            if (e.state == State::Queued) {
                e.state = State::Running;
                run.push_back(&e);
            }
        return !run.empty();
    }

    void Loop() {
        std::vector<Entry*> run;
        run.reserve(kCapacity);
        std::unique_lock lock(mu_);
        for (;;) {
            if (!TakeQueued(run)) {
                if (stopping_) return;
                sleeping_ = true;
                waiting_ = 0;
                work_.wait(lock, [&] { return stopping_ || (waiting_ >= kWakeAt && TakeQueued(run)); });
                sleeping_ = false;
                if (run.empty()) continue;
            }
            lock.unlock();
            size_t made = 0;
            OpenTarget target;
            for (; made < run.size() && Copy(run[made]->job, target); ++made) {
                run[made]->job.out.reset();
                run[made]->job.in.reset();
            }
            lock.lock();
            for (size_t k = 0; k < run.size(); ++k) run[k]->state = k < made ? State::Done : State::Returned;
            if (made < run.size()) {
                stopped_ = true;
                for (Entry& later : jobs_)
                    if (later.state == State::Queued) later.state = State::Returned;
                returned_.store(true, std::memory_order_release);
            }
            if (callerWaits_) progress_.notify_one();
        }
    }

    std::mutex mu_;
    std::condition_variable work_, progress_;
    std::deque<Entry> jobs_;  // in the caller's order; references stay valid at both ends
    std::atomic<bool> active_{false};
    std::atomic<bool> returned_{false};  // a copy was handed back
    bool stopped_ = false;     // the worker handed a copy back and takes nothing until it is made
    bool sleeping_ = false;
    bool callerWaits_ = false;
    bool stopping_ = false;
    size_t waiting_ = 0;       // copies queued since the worker fell asleep
    // Which names in which folders the queued copies will create, 1,024 bits of them: a name
    // whose bit is clear is none of theirs, and most calls are answered without a look at the
    // queue. The caller's thread alone uses it.
    std::array<uint64_t, 16> filter_{};
    bool unfiltered_ = false;  // a queued name beyond ASCII, which any name may match
    std::thread thread_;       // started last, once everything it reads is there
};

}  // namespace

bool Available() {
    static const bool twoProcessors = std::thread::hardware_concurrency() >= 2;
    return CurrentDevice().copyBehind && twoProcessors && Ctx().OpsAreReal() && !Ctx().Armed();
}

bool Queue(Job& job) {
    Worker* w = Worker::Get();
    if (w == nullptr || !w->Owned()) return false;
    return w->Add(job);
}

void Settle(bool wait) {
    Worker* w = Worker::Instance();
    if (w == nullptr || !w->Active() || !w->Owned() || (!wait && !w->Due())) return;
    // Kept from call to call: once the queue is half full, every copy takes in what was made.
    thread_local std::vector<Made> done;
    std::vector<Job> back;
    w->Take(wait, done, back);
    for (const Made& m : done) changes::Linked(m.dir, m.name);
    done.clear();
    for (Job& j : back) {
        j.out.reset();  // unlinked: it vanishes
        j.in.reset();
        if (g_failure) g_failure = CopyNow(j.from.c_str(), j.to.c_str(), j.failIfExists);
    }
}

Status TakeFailure() { return std::exchange(g_failure, Status()); }

bool Busy() {
    Worker* w = Worker::Instance();
    return w != nullptr && w->Active();
}

bool Touches(std::string_view dir, std::string_view name) {
    Worker* w = Worker::Instance();
    return w != nullptr && w->Active() && w->Owned() && w->Touches(dir, name);
}

Status Resolve(std::u16string_view path, ns::HostEntry& e) {
    Status r = ns::Resolve(path, e);
    if (!r || !Touches(e.dir(), e.name())) return r;
    Settle(true);
    return ns::Resolve(path, e);
}

Status OpenExisting(std::u16string_view path, ns::HostEntry& e, host::Fd& fd, int flags) {
    Status r = ns::OpenExisting(path, e, fd, flags);
    // A name a queued copy will create is missing until it is made.
    if ((!r && !r.Is(ENOENT)) || !Touches(e.dir(), e.name())) return r;
    fd.reset();
    Settle(true);
    return ns::OpenExisting(path, e, fd, flags);
}

}  // namespace wce::kernel::behind
