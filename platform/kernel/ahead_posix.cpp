#include <fcntl.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/kernel/ahead.h"
#include "platform/kernel/attributes.h"
#include "platform/kernel/faults.h"
#include "platform/kernel/host_ops.h"

namespace wce::kernel::ahead {
namespace {

// Below this many entries the hand-over between threads costs more than it saves.
constexpr size_t kMinEntries = 16;

// One helper thread for the process, started with the first large folder. It serves the most
// recent batch first, since that is the folder the walk has just entered, and leaves an older
// one for a newer one as soon as that arrives. It is never stopped: it waits on its queue, and
// the process ends it with everything else.
class Helper {
public:
    static Helper& Get() {
        static Helper* helper = new Helper;
        return *helper;
    }
    void Add(Batch* b) {
        std::lock_guard lock(mu_);
        queue_.push_back(b);
        added_.fetch_add(1, std::memory_order_relaxed);
        wake_.notify_one();
    }
    void Remove(Batch* b) {
        std::unique_lock lock(mu_);
        queue_.erase(std::remove(queue_.begin(), queue_.end(), b), queue_.end());
        left_.wait(lock, [&] { return current_ != b; });
    }
    // Whether a batch arrived after the count given.
    bool Newer(unsigned since) const { return added_.load(std::memory_order_relaxed) != since; }

private:
    Helper() { std::thread([this] { Loop(); }).detach(); }
    void Loop() {
        std::unique_lock lock(mu_);
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty(); });
            current_ = queue_.back();
            queue_.pop_back();
            const unsigned since = added_.load(std::memory_order_relaxed);
            lock.unlock();
            const bool finished = current_->Run(since);
            lock.lock();
            if (!finished) queue_.push_front(current_);
            current_ = nullptr;
            left_.notify_all();
        }
    }

    std::mutex mu_;
    std::condition_variable wake_, left_;
    std::deque<Batch*> queue_;
    Batch* current_ = nullptr;
    std::atomic<unsigned> added_{0};
};

bool Worthwhile(size_t entries) {
    static const bool twoProcessors = std::thread::hardware_concurrency() >= 2;
    return twoProcessors && entries >= kMinEntries && host::OpsAreReal() && !FaultsArmed();
}

}  // namespace

Batch::Batch(int dirfd, const std::string& dirHost, std::shared_ptr<const ns::DirListing> listing)
    : dirfd_(dirfd), dirHost_(dirHost), listing_(std::move(listing)),
      slots_(new Slot[listing_->entries.size()]) {}

std::unique_ptr<Batch> Batch::Start(int dirfd, const std::string& dirHost,
                                    std::shared_ptr<const ns::DirListing> listing) {
    if (!Worthwhile(listing->entries.size())) return nullptr;
    std::unique_ptr<Batch> b(new Batch(dirfd, dirHost, std::move(listing)));
    Helper::Get().Add(b.get());
    return b;
}

Batch::~Batch() {
    cancelled_.store(true, std::memory_order_relaxed);
    Helper::Get().Remove(this);
}

void Batch::Describe(size_t k, bool readBits) {
    thread_local std::string leaf;
    leaf.assign(listing_->name(listing_->entries[k]));
    Described& d = slots_[k].d;
    d.statErr = host::FStatAt(dirfd_, leaf.c_str(), &d.st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    d.link = d.statErr == 0 && S_ISLNK(d.st.st_mode);
    d.bits = attrs::kNotRead;
    if (d.statErr != 0 || d.link || !readBits) return;
    d.bits = attrs::XattrBits(attrs::Location{dirfd_, leaf.c_str(), dirHost_});
    d.bitsErr = d.bits < 0 ? errno : 0;
}

const Described& Batch::Take(size_t k) {
    Slot& s = slots_[k];
    unsigned char expected = 0;
    // Read here, the bits may still be remembered from an earlier read of the same file.
    if (s.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        Describe(k, false);
        s.state.store(2, std::memory_order_relaxed);
        return s.d;
    }
    // Where the two meet, the helper may be reading this very entry: a few microseconds.
    for (int spins = 0; s.state.load(std::memory_order_acquire) != 2; ++spins)
        if (spins > 1000) std::this_thread::yield();
    return s.d;
}

// From the last entry backwards, while the caller takes entries from the first: each reads
// what the other has not reached, and the two meet without waiting on each other.
bool Batch::Run(unsigned since) {
    const Helper& helper = Helper::Get();
    for (size_t k = listing_->entries.size(); k-- > 0;) {
        // A fault armed meanwhile must fire on the caller's thread, in the caller's order.
        if (cancelled_.load(std::memory_order_relaxed) || FaultsArmed()) return true;
        if (helper.Newer(since)) return false;
        Slot& s = slots_[k];
        unsigned char expected = 0;
        if (!s.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return true;
        Describe(k, true);
        s.state.store(2, std::memory_order_release);
    }
    return true;
}

}  // namespace wce::kernel::ahead
