#include <dirent.h>
#include <fcntl.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <ctime>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/ahead.h"
#include "platform/kernel/attributes.h"
#include "platform/kernel/context.h"
#include "platform/kernel/filesystems.h"
#include "platform/kernel/knowledge.h"

namespace wce::kernel::ahead {
namespace {

// Below this many entries the hand-over between threads costs more than it saves.
constexpr size_t kMinEntries = 16;

bool Allowed() {
    static const bool twoProcessors = std::thread::hardware_concurrency() >= 2;
    const Context& c = Ctx();
    return twoProcessors && c.OpsAreReal() && !c.Armed() && c.sharing() != Sharing::Off;
}

// One helper thread for the process, started with the first large folder. It serves the most
// recent batch first, since that is the folder the walk has just entered, and leaves an older
// one for a newer one as soon as that arrives; with nothing queued it prepares the next folder.
// The kernel context stops and joins it when the process exits.
class Helper final : public Thread {
public:
    static Helper& Get() {
        // Never destroyed: batches of other static objects may still leave it at exit.
        static Helper* helper = [] {
            auto* h = new Helper;
            Ctx().Adopt(h);
            return h;
        }();
        started_.store(true, std::memory_order_release);
        return *helper;
    }
    // Whether the thread runs; without it every batch is read by the caller.
    bool Running() const { return thread_.joinable(); }
    void Add(Batch* b, bool queue) {
        std::lock_guard lock(mu_);
        open_.push_back(b);
        if (queue) queue_.push_back(b);
        added_.fetch_add(1, std::memory_order_relaxed);
        wake_.notify_one();
    }
    void Remove(Batch* b) {
        std::unique_lock lock(mu_);
        queue_.erase(std::remove(queue_.begin(), queue_.end(), b), queue_.end());
        open_.erase(std::remove(open_.begin(), open_.end(), b), open_.end());
        left_.wait(lock, [&] { return current_ != b; });
    }
    // Whether a batch arrived after the count given.
    bool Newer(unsigned since) const { return added_.load(std::memory_order_relaxed) != since; }
    // The prepared folder was taken: the next one may be prepared.
    void Taken() {
        std::lock_guard lock(mu_);
        wake_.notify_one();
    }
    void Idle() {
        std::unique_lock lock(mu_);
        left_.wait(lock, [&] { return current_ == nullptr; });
    }
    static bool Started() { return started_.load(std::memory_order_acquire); }

    // Lets go of any prepared folder and waits until the helper is idle.
    void Quiesce() override {
        Known().TakePrepared().reset();
        Idle();
    }

    void Stop() override {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mu_);
            stopping_ = true;
            wake_.notify_all();
        }
        // A forked child has no such thread to wait for.
        if (getpid() == owner_) thread_.join();
        else thread_.detach();
    }

private:
    Helper() : owner_(getpid()) {
        try {
            thread_ = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
            // No second thread to be had: the walk reads everything itself.
        }
    }

    void Loop() {
        std::unique_lock lock(mu_);
        for (;;) {
            Batch* parent = nullptr;
            size_t k = 0;
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty() || FolderToPrepare(parent, k); });
            if (stopping_) return;
            if (queue_.empty()) {
                current_ = parent;
                lock.unlock();
                std::unique_ptr<Prepared> p = Prepare(*parent, k);
                lock.lock();
                current_ = nullptr;
                left_.notify_all();
                if (!p) continue;
                Batch* b = p->batch.get();
                Known().Keep(std::move(p));
                if (b != nullptr) queue_.push_back(b);
                continue;
            }
            current_ = queue_.back();
            queue_.pop_back();
            const unsigned since = added_.load(std::memory_order_relaxed);
            lock.unlock();
            const bool finished = current_->Run(since);
            lock.lock();
            // A batch cancelled meanwhile is being freed by its owner, who waits in Remove for
            // this very moment: it must not go back on the queue.
            if (!finished && !current_->Cancelled()) queue_.push_front(current_);
            current_ = nullptr;
            left_.notify_all();
        }
    }

    // The next folder the walk will enter: after the caller's position in the deepest open
    // folder that has one. Only while nothing prepared is waiting to be taken.
    bool FolderToPrepare(Batch*& parent, size_t& k) {
        if (Known().prepared.held.load(std::memory_order_acquire) || !Allowed()) return false;
        for (auto it = open_.rbegin(); it != open_.rend(); ++it)
            if ((*it)->NextFolder(k)) {
                parent = *it;
                return true;
            }
        return false;
    }

    // Opens, stamps and lists folder k of parent, and gives it a batch that the queue runs.
    static std::unique_ptr<Prepared> Prepare(const Batch& parent, size_t k) {
        auto p = std::make_unique<Prepared>();
        const ns::DirListing& listing = parent.Listing();
        const std::string name(listing.name(listing.entries[k]));
        p->dir.reset(host::OpenAt(parent.DirFd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        const int64_t now = fsinfo::Now();
        struct stat st {};
        if (!p->dir.valid() || host::FStat(p->dir.get(), &st) != 0) return nullptr;
        // A folder changed within its stamp window could change again without its stamps moving.
        fsinfo::Traits traits;
        if (!fsinfo::KnownTraits(st.st_dev, traits)) return nullptr;
        p->stamp = fsinfo::Stamp::Of(st, traits, now);
        if (!p->stamp.settled) return nullptr;
        p->listing = std::make_shared<ns::DirListing>();
        if (!ns::ReadListingOf(p->dir.get(), *p->listing)) return nullptr;
        p->dirHost.assign(parent.DirHost()).append("/").append(name);
        p->batch = Batch::Start(p->dir.get(), p->dirHost, p->listing, false);
        return p;
    }

    std::thread thread_;
    pid_t owner_;
    bool stopping_ = false;
    std::mutex mu_;
    std::condition_variable wake_, left_;
    std::deque<Batch*> queue_;
    std::vector<Batch*> open_;  // batches of open enumerations, the deepest last
    Batch* current_ = nullptr;
    std::atomic<unsigned> added_{0};
    static inline std::atomic<bool> started_{false};
};

}  // namespace

Batch::Batch(int dirfd, const std::string& dirHost, std::shared_ptr<const ns::DirListing> listing)
    : dirfd_(dirfd), dirHost_(dirHost), listing_(std::move(listing)),
      slots_(new Slot[listing_->entries.size()]), next_(listing_->entries.size()) {}

std::unique_ptr<Batch> Batch::Start(int dirfd, const std::string& dirHost,
                                    std::shared_ptr<const ns::DirListing> listing, bool open) {
    if (listing->entries.size() < kMinEntries || !Allowed() || !Helper::Get().Running()) return nullptr;
    std::unique_ptr<Batch> b(new Batch(dirfd, dirHost, std::move(listing)));
    if (!open) return b;
    Helper::Get().Add(b.get(), true);
    if (Ctx().sharing() == Sharing::Ahead) b->ran_.wait(false, std::memory_order_acquire);
    return b;
}

void Batch::Adopt() { Helper::Get().Add(this, false); }

Batch::~Batch() {
    cancelled_.store(true, std::memory_order_release);
    Helper::Get().Remove(this);
}

void Batch::Describe(size_t k, bool readBits) {
    thread_local std::string leaf;
    leaf.assign(listing_->name(listing_->entries[k]));
    Described& d = slots_[k].d;
    d.at = fsinfo::Now();
    d.found = host::FStatAt(dirfd_, leaf.c_str(), &d.st, AT_SYMLINK_NOFOLLOW) == 0 ? Status() : Status(HostError());
    d.link = d.found && S_ISLNK(d.st.st_mode);
    d.bitsRead = false;
    // What the caller will recall needs no read (a count's walk read it for the copy's).
    if (!d.found || d.link || !readBits || attrs::Recalls(d.st)) return;
    d.bits = attrs::XattrBits(attrs::Location{dirfd_, leaf.c_str(), dirHost_}, d.st.st_dev);
    d.bitsRead = true;
}

const Described& Batch::Take(size_t k) {
    Slot& s = slots_[k];
    taken_.store(k + 1, std::memory_order_relaxed);
    unsigned char expected = 0;
    // Read here, the bits may still be remembered from an earlier read of the same file.
    if (s.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        Describe(k, false);
        s.state.store(2, std::memory_order_relaxed);
        return s.d;
    }
    // Where the two meet, the helper may be reading this very entry: a few microseconds, so a
    // short bounded spin first (without it the caller sleeps and is woken at most meetings, and a
    // copy of 100,000 files takes 5 % longer); only then does it sleep, saying so (3) for the
    // helper to wake it.
    for (int spins = 0; spins < 2000; ++spins)
        if (s.state.load(std::memory_order_acquire) == 2) return s.d;
    unsigned char reading = 1;
    if (s.state.compare_exchange_strong(reading, 3, std::memory_order_acquire)) s.state.wait(3, std::memory_order_acquire);
    return s.d;
}

bool Batch::Run(unsigned since) {
    const Helper& helper = Helper::Get();
    while (next_ > 0) {
        // A fault armed meanwhile must fire on the caller's thread, in the caller's order (the
        // caller reads the rest).
        if (cancelled_.load(std::memory_order_relaxed) || Ctx().Armed()) break;
        if (helper.Newer(since)) return false;
        Slot& s = slots_[next_ - 1];
        unsigned char expected = 0;
        if (!s.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) break;
        Describe(next_ - 1, true);
        if (s.state.exchange(2, std::memory_order_acq_rel) == 3) s.state.notify_one();
        --next_;
    }
    ran_.store(true, std::memory_order_release);
    ran_.notify_all();
    return true;
}

bool Batch::NextFolder(size_t& k) {
    if (cancelled_.load(std::memory_order_relaxed)) return false;
    prepared_ = std::max(prepared_, taken_.load(std::memory_order_relaxed));
    for (; prepared_ < listing_->entries.size(); ++prepared_)
        if (listing_->entries[prepared_].type == DT_DIR) {
            k = prepared_++;
            return true;
        }
    return false;
}

std::unique_ptr<Prepared> TakePrepared(const std::string& dirHost) {
    if (!Helper::Started()) return nullptr;
    std::unique_ptr<Prepared> p = Known().TakePrepared();
    Helper::Get().Taken();
    if (!p || p->dirHost != dirHost || !Allowed()) return nullptr;
    struct stat now {};
    if (host::FStatAt(AT_FDCWD, dirHost.c_str(), &now, 0) != 0 || !p->stamp.Trusted(now))
        return nullptr;
    return p;
}

}  // namespace wce::kernel::ahead
