#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>

#include "platform/kernel/activity.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/batch.h"

namespace wce::kernel::batch {
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
// not something learnt of the host: Forget leaves it, the flush (CloseAll) ends it. Never
// destroyed: exiting statics may still close a file.
auto& g_batches = *new std::unordered_map<dev_t, Batch>;
int g_readBack = -1;  // the device's setting: 0 off, 1 on, -1 where not in memory

// Bound: 0.25 s at the pace shown, kBound before; a fast disk rarely waits, a slow card often.
off_t Bound(const Batch& p) {
    const int64_t spent = Monotonic() - p.first;
    if (p.done == 0 || spent <= 0) return kBound;
    const double rate = static_cast<double>(p.done) / static_cast<double>(spent);
    const auto bound = static_cast<off_t>(rate * kBehindNs);
    return std::clamp<off_t>(bound, kBound, kMaxBound);
}

Status WaitOldest(Batch& p) {
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

bool WritesBehind(dev_t dev, const fsinfo::Traits& t) {
    return !t.memoryBacked && !t.fuse && !fsinfo::Refused(dev, fsinfo::Feature::SyncRange);
}

Status Start(int fd, dev_t dev, off_t pos, off_t len) {
    if (len <= 0) return {};
    Batch& p = g_batches[dev];
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
    Batch& p = g_batches[dev];
    if (p.watched) return;
    p.watched = true;
    p.watch.reset(host::OpenAt(dirfd, ".", O_RDONLY | O_DIRECTORY));
    // Nothing lies beneath a filesystem held in memory: no mount table is read for it.
    if (fsinfo::Traits t; !fsinfo::KnownTraits(dev, t) || !t.memoryBacked)
        p.beneath = beneath::Inspect(dev);
}

std::vector<dev_t> Watched() {
    std::vector<dev_t> devs;
    for (const auto& [dev, p] : g_batches)
        if (p.watched) devs.push_back(dev);
    return devs;
}

Status Flush(dev_t dev, int fd) {
    auto it = g_batches.find(dev);
    Batch* p = it == g_batches.end() ? nullptr : &it->second;
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

Batch& Open(dev_t dev) {
    return g_batches[dev];
}

void CloseAll() {
    g_batches.clear();
}

void Configure(int readBack) {
    g_readBack = readBack;
    CloseAll();
}

namespace {
void Untrack(dev_t dev, ino_t ino) {
    auto it = g_batches.find(dev);
    if (it == g_batches.end()) return;
    Batch& p = it->second;
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
    if (g_batches.empty() || host::FStat(fd, &st) != 0) return;
    Untrack(st.st_dev, st.st_ino);
}

void Untrack(int dirfd, const char* name) {
    struct stat st {};
    if (g_batches.empty() || host::Live().fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    Untrack(st.st_dev, st.st_ino);
}

// Read-back.
namespace {

using Copy = ReadBack;

// Large enough that a medium is read in long runs, small enough to stay out of the way.
constexpr size_t kBlock = 1 << 20;
// What O_DIRECT reads are aligned to: a page, which every filesystem that takes them accepts.
constexpr size_t kAlign = 4096;

using Buffer = std::unique_ptr<char, decltype([](char* p) { std::free(p); })>;
Buffer NewBuffer() {
    return Buffer(static_cast<char*>(std::aligned_alloc(kAlign, kBlock)));
}

// OpenPlaced: e confined and still the regular file placed, read past or purged of page cache.
// O_DIRECT on FUSE only: it cost 0.92 vs cache 1.31 on NTFS, 1.49 vs 1.26-1.31 on ext4 (in read
// times of the bytes, 16/40 MB/s card, 41.7 MB in 404 files, 2026-12-09).
Status OpenPlaced(const ns::Entry& e, dev_t dev, bool& direct, host::Fd& fd) {
    const ns::Location at = e.named();
    fsinfo::Traits t;
    direct =
        fsinfo::KnownTraits(dev, t) && t.fuse && !fsinfo::Refused(dev, fsinfo::Feature::DirectRead);
    if (direct) {
        const Status s = ns::OpenChecked(at, e.st, O_RDONLY | O_DIRECT, fd);
        if (s || !fsinfo::NoteRefusal(dev, fsinfo::Feature::DirectRead, s.error().err)) return s;
        direct = false;
    }
    const Status s = ns::OpenChecked(at, e.st, O_RDONLY, fd);
    if (s) host::Live().fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    return s;
}

// The written file at a device path, as OpenPlaced opens it.
Status OpenWritten(std::u16string_view path, dev_t dev, bool& direct, host::Fd& fd) {
    ns::Entry e;
    Status s = ns::Resolve(path, e, ns::Want::Existing);
    if (s && e.IsLink()) s = Error{ESTALE};  // a link stands where the copy was placed
    return s ? OpenPlaced(e, dev, direct, fd) : s;
}

// Whether the open source still has the size and time it was copied with.
bool SourceAsCopied(int fd, const Copy& c) {
    struct stat st {};
    return host::FStat(fd, &st) == 0 && st.st_size == c.size &&
           st.st_mtim.tv_sec == c.mtime.tv_sec && st.st_mtim.tv_nsec == c.mtime.tv_nsec;
}

// Reads n bytes at pos; an O_DIRECT read asks for whole pages and takes a short one at the end.
Status ReadFully(int fd, char* buf, size_t n, off_t pos, bool direct) {
    const size_t ask = direct ? (n + kAlign - 1) / kAlign * kAlign : n;
    for (size_t done = 0; done < n;) {
        const ssize_t r = host::PRead(fd, buf + done, ask - done, pos + static_cast<off_t>(done));
        if (r < 0) return HostError("pread");
        if (r == 0) return Error{EBADMSG, Kind::Differs};  // shorter than it says it is
        done += static_cast<size_t>(r);
        if (direct && done < n && done % kAlign != 0) return Error{EBADMSG, Kind::Differs};
    }
    return {};
}

// Streams both open files side by side: Kind::Differs where the placed one holds other bytes.
Status SameBytes(int placed, bool direct, int source) {
    struct stat sst = {}, pst = {};
    if (host::FStat(placed, &pst) != 0 || host::FStat(source, &sst) != 0) return HostError("fstat");
    if (sst.st_size != pst.st_size) return Error{EBADMSG, Kind::Differs};
    thread_local Buffer a = NewBuffer(), b = NewBuffer();
    if (!a || !b) return Error{ENOMEM};
    for (off_t pos = 0; pos < pst.st_size; pos += static_cast<off_t>(kBlock)) {
        const auto n =
            static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kBlock), pst.st_size - pos));
        if (Status s = ReadFully(placed, a.get(), n, pos, direct); !s) return s;
        if (Status s = ReadFully(source, b.get(), n, pos, false); !s) return s;
        if (std::memcmp(a.get(), b.get(), n) != 0) return Error{EBADMSG, Kind::Differs};
        if (g_idle != nullptr) g_idle();
    }
    return {};
}

// For the whole filesystem: the layers beneath hold the pages of every file.
void DropLayers(dev_t dev) {
    const Batch& b = g_batches[dev];
    for (const beneath::Layer& layer : b.beneath.layers)
        host::Live().fadvise(layer.fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (!b.beneath.unreachable.empty())
        ReportNotice("read back from the host's cache, not from the card: " +
                     b.beneath.unreachable);
}

// A package file changed after it was copied: the difference is the package's, not the card's.
Status SourceChanged(const Copy& c) {
    return Status(Error{ESTALE}).At("read back", c.from);
}

Status Compare(const Copy& c, dev_t dev) {
    bool direct = false;
    host::Fd dst;
    if (Status s = OpenWritten(c.to, dev, direct, dst); !s) return s;
    ns::Entry e;
    host::Fd src;
    if (Status s = ns::OpenRegular(c.from, e, src); !s) return s;
    if (!SourceAsCopied(src.get(), c)) return SourceChanged(c);
    const Status same = SameBytes(dst.get(), direct, src.get());
    if (!same.Is(Kind::Differs)) return same;
    return SourceAsCopied(src.get(), c) ? same : SourceChanged(c);
}

}  // namespace

bool ReadsBack(dev_t dev) {
    if (g_readBack >= 0) return g_readBack == 1;
    fsinfo::Traits t;
    return !fsinfo::KnownTraits(dev, t) || !t.memoryBacked;
}

void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to,
                   const struct stat& source) {
    Open(dev).readBacks.push_back(
        {std::u16string(from), std::u16string(to), source.st_size, source.st_mtim});
}

Status Check(dev_t dev) {
    const std::vector<Copy>& files = Open(dev).readBacks;
    if (files.empty()) return {};
    if (Status s = ns::RootUnchanged(); !s) return s;
    DropLayers(dev);
    for (const Copy& c : files) {
        if (g_idle != nullptr) g_idle();
        if (Status s = Compare(c, dev); !s) return s.At("read back", c.to);
    }
    return {};
}

void ReadPastCaches(int fd, dev_t dev, int dirfd) {
    Watch(dev, dirfd);
    if (!std::exchange(g_batches[dev].looked, true)) DropLayers(dev);
    host::Live().fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

Status AlreadyThere(int source, const ns::Entry& dst, dev_t dev, host::Fd& placed) {
    if (!std::exchange(g_batches[dev].looked, true)) DropLayers(dev);
    bool direct = false;
    if (Status s = OpenPlaced(dst, dev, direct, placed); !s) return s;
    const Status same = SameBytes(placed.get(), direct, source);
    if (!same && !same.Is(Kind::Differs)) return same;
    // Rewritten in place meanwhile: what was compared is not what would be kept.
    struct stat now {};
    if (!same || host::FStat(placed.get(), &now) != 0 || now.st_size != dst.st.st_size ||
        !fsinfo::Stamp::Of(dst.st).Unchanged(now))
        placed.reset();
    return {};
}

}  // namespace wce::kernel::batch
