#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <utility>

#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/services/writeback.h"

namespace wce::kernel::writeback {
namespace {

// kSmallFile: smaller files are counted, not started singly (an I/O each on disk); a flush settles.
constexpr off_t kSmallFile = 64 * 1024;
// How much writing may be left behind the progress shown, in time at the medium's own pace.
constexpr int64_t kBehindNs = 250'000'000;
constexpr off_t kMaxBound = 256 << 20;

int64_t Monotonic() {
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// The open batches, one per filesystem written since its last flush. Work still to be done is
// not something learnt of the host: Forget leaves it, the flush (Close) ends it.
std::unordered_map<dev_t, Batch>& ByDevice() {
    static auto* batches = new std::unordered_map<dev_t, Batch>;
    return *batches;
}
using Pending = Batch;

// Bound: 0.25 s at the pace shown, kBound before; a fast disk rarely waits, a slow card often.
off_t Bound(const Pending& p) {
    const int64_t spent = Monotonic() - p.first;
    if (p.done == 0 || spent <= 0) return kBound;
    const double rate = static_cast<double>(p.done) / static_cast<double>(spent);
    const auto bound = static_cast<off_t>(rate * kBehindNs);
    return std::clamp<off_t>(bound, kBound, kMaxBound);
}

Status WaitOldest(Pending& p) {
    Range& oldest = p.ranges.front();
    const Status s = HostStatus(
        host::Live().sync_file_range(
            oldest.fd.get(), oldest.pos, oldest.len,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER),
        "sync_file_range");
    p.bytes -= oldest.len;
    p.done += oldest.len;
    p.ranges.pop_front();
    return s;
}

}  // namespace

bool Applies(dev_t dev, const fsinfo::Traits& t) {
    return !t.memoryBacked && !t.fuse && !fsinfo::Refused(dev, fsinfo::Feature::SyncRange);
}

Status Start(int fd, dev_t dev, off_t pos, off_t len) {
    if (len <= 0) return {};
    Pending& p = ByDevice()[dev];
    if (p.first == 0) p.first = Monotonic();
    if (pos == 0 && len < kSmallFile) {
        p.small += len;
        if (p.small + p.bytes <= Bound(p)) return {};
        // Through the watching descriptor: the new file's own has not seen earlier errors.
        const Status s =
            HostStatus(host::Live().syncfs(p.watch.valid() ? p.watch.get() : fd), "syncfs");
        p.done += p.small + p.bytes;
        p.small = p.bytes = 0;
        p.ranges.clear();
        return s;
    }
    if (host::Live().sync_file_range(fd, pos, len, SYNC_FILE_RANGE_WRITE) != 0) {
        const Error e = HostError("sync_file_range");
        return fsinfo::NoteRefusal(dev, fsinfo::Feature::SyncRange, e.err) ? Status() : Status(e);
    }
    Range r{host::Fd(host::Live().dup(fd)), pos, len};
    if (!r.fd.valid()) return {};  // only the bound is lost; the final flush still reports
    p.ranges.push_back(std::move(r));
    p.bytes += len;
    // The range just started is never waited for here: the person sees its file while it goes.
    while (p.ranges.size() > 1 && p.bytes + p.small > Bound(p))
        if (Status s = WaitOldest(p); !s) return s;
    return {};
}

void Watch(dev_t dev, int dirfd) {
    Pending& p = ByDevice()[dev];
    if (p.watched) return;
    p.watched = true;
    p.watch.reset(host::OpenAt(dirfd, ".", O_RDONLY | O_DIRECTORY));
    // Nothing lies beneath a filesystem held in memory: no mount table is read for it.
    if (fsinfo::Traits t; !fsinfo::KnownTraits(dev, t) || !t.memoryBacked)
        p.beneath = beneath::Inspect(dev);
}

std::vector<dev_t> Watched() {
    std::vector<dev_t> devs;
    for (const auto& [dev, p] : ByDevice())
        if (p.watched) devs.push_back(dev);
    return devs;
}

Status Flush(dev_t dev, int fd) {
    auto it = ByDevice().find(dev);
    Pending* p = it == ByDevice().end() ? nullptr : &it->second;
    if (p != nullptr && p->watch.valid()) fd = p->watch.get();
    bool all = fd < 0 || fsinfo::Refused(dev, fsinfo::Feature::SyncFs);
    if (!all && host::Live().syncfs(fd) != 0) {
        const Error e = HostError("syncfs");
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::SyncFs, e.err)) return e;
        all = true;
    }
    // A FUSE driver or a loop writes its card through the host's caches of the layers beneath.
    if (p != nullptr) {
        if (!p->beneath.unreachable.empty()) all = true;
        for (beneath::Layer& layer : p->beneath.layers)
            if (host::Live().fsync(layer.fd.get()) != 0) return HostError("fsync");
    }
    return all ? HostStatus(host::Live().sync(), "sync") : Status();
}

std::string DropCached(dev_t dev) {
    auto it = ByDevice().find(dev);
    if (it == ByDevice().end()) return {};
    for (beneath::Layer& layer : it->second.beneath.layers)
        host::Live().fadvise(layer.fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    return it->second.beneath.unreachable;
}

bool FirstLookSinceFlush(dev_t dev) {
    Pending& p = ByDevice()[dev];
    return !std::exchange(p.looked, true);
}

Batch& Open(dev_t dev) {
    return ByDevice()[dev];
}

void Close(dev_t dev) {
    ByDevice().erase(dev);
}

void CloseAll() {
    ByDevice().clear();
}

namespace {
void Untrack(dev_t dev, ino_t ino) {
    auto it = ByDevice().find(dev);
    if (it == ByDevice().end()) return;
    Pending& p = it->second;
    std::erase_if(p.ranges, [&](const Range& r) {
        struct stat st {};
        if (host::FStat(r.fd.get(), &st) != 0 || st.st_ino != ino) return false;
        p.bytes -= r.len;
        return true;
    });
}

}  // namespace

void Untrack(int fd) {
    struct stat st {};
    if (ByDevice().empty() || host::FStat(fd, &st) != 0) return;
    Untrack(st.st_dev, st.st_ino);
}

void Untrack(int dirfd, const char* name) {
    struct stat st {};
    if (ByDevice().empty() || host::Live().fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    Untrack(st.st_dev, st.st_ino);
}

}  // namespace wce::kernel::writeback
