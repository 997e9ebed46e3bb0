#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "platform/kernel/activity.h"
#include "platform/kernel/device.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/verify.h"
#include "platform/kernel/services/writeback.h"

namespace wce::kernel::verify {
namespace {

// Large enough that a medium is read in long runs, small enough to stay out of the way.
constexpr size_t kBlock = 1 << 20;
// Files opened ahead of the one compared, their reads from the card already under way: on a
// card every read waits for the card, and a small file's read is mostly that wait. Measured on
// a card slow both ways (16 MB/s writes, 40 MB/s reads, ext4, 404 files of 41.7 MB,
// 2026-12-09): O_DIRECT reads one at a time added 1.49 times the bytes over the read rate, reads
// through the dropped page cache 1.26 times.
constexpr size_t kAhead = 8;

// Lets go of the file's clean cached pages and starts reading it again from its medium: what is
// compared then was read from the card (the layers beneath were dropped before, DropLayers).
void ReadAfresh(int fd) {
    host::FAdvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    host::FAdvise(fd, 0, 0, POSIX_FADV_WILLNEED);
}

// The file e names, opened where it was placed (its folder opened without following links) and
// only if it is still the regular file found there.
Result<host::Fd> OpenPlaced(const ns::HostEntry& e) {
    const attrs::Location at = e.named();
    Result<host::Fd> fd = ns::OpenChecked(at.dirfd, at.name, e.st, O_RDONLY);
    if (fd) ReadAfresh(fd->get());
    return fd;
}

// The written file at a device path, as OpenPlaced opens it.
Result<host::Fd> OpenWritten(std::u16string_view path) {
    ns::HostEntry e;
    if (Status s = ns::Resolve(path, e); !s) return s.error();
    if (!e.exists) return Error{ENOENT};
    if (!e.real.empty()) return Error{ESTALE};  // a link stands where the copy was placed
    if (Status s = ns::Confine(e); !s) return s.error();
    return OpenPlaced(e);
}

// The source at a device path, only if it is still the regular file its look-up found.
Result<host::Fd> OpenSource(std::u16string_view path) {
    ns::HostEntry e;
    if (Status s = ns::Resolve(path, e); !s) return s.error();
    if (!e.exists) return Error{ENOENT};
    const attrs::Location at = e.where();
    Result<host::Fd> fd = ns::OpenChecked(at.dirfd, at.name, e.st, O_RDONLY);
    if (fd) host::FAdvise(fd->get(), 0, 0, POSIX_FADV_WILLNEED);
    return fd;
}

// Reads n bytes at pos; false (EBADMSG) where the file ends first.
Status ReadFully(int fd, char* buf, size_t n, off_t pos) {
    for (size_t done = 0; done < n;) {
        const ssize_t r = host::PRead(fd, buf + done, n - done, pos + static_cast<off_t>(done));
        if (r < 0) return HostError();
        if (r == 0) return Error{EBADMSG};  // shorter than it says it is
        done += static_cast<size_t>(r);
    }
    return {};
}

// Streams both open files side by side: whether the placed one holds the source's bytes.
Result<bool> SameBytes(int placed, int source) {
    struct stat sst {}, pst{};
    if (host::FStat(placed, &pst) != 0 || host::FStat(source, &sst) != 0) return HostError();
    if (sst.st_size != pst.st_size) return false;
    thread_local std::unique_ptr<char[]> a(new char[kBlock]), b(new char[kBlock]);
    for (off_t pos = 0; pos < pst.st_size; pos += static_cast<off_t>(kBlock)) {
        const auto n =
            static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kBlock), pst.st_size - pos));
        if (Status s = ReadFully(placed, a.get(), n, pos); !s)
            return s.Is(EBADMSG) ? Result<bool>(false) : Result<bool>(s.error());
        if (Status s = ReadFully(source, b.get(), n, pos); !s) return s.error();
        if (std::memcmp(a.get(), b.get(), n) != 0) return false;
        Idle();
    }
    return true;
}

// Once for the whole filesystem: the layers beneath hold the pages of every file.
void DropLayers(dev_t dev) {
    if (const std::string why = writeback::DropCached(dev); !why.empty())
        ReportNotice("read back from the host's cache, not from the card: " + why);
}

// One file to read back, opened ahead.
struct Pair {
    std::u16string to;
    Result<host::Fd> placed = Error{}, source = Error{};
};

Pair OpenPair(const std::pair<std::u16string, std::u16string>& file) {
    Pair p{file.second, OpenWritten(file.second), Error{}};
    if (p.placed) p.source = OpenSource(file.first);
    return p;
}

Status Compare(Pair& p) {
    if (!p.placed) return p.placed.error();
    if (!p.source) return p.source.error();
    const Result<bool> same = SameBytes(p.placed->get(), p.source->get());
    if (!same) return same.error();
    return *same ? Status() : Status(Error{EBADMSG});
}

}  // namespace

bool Applies(dev_t dev) {
    const int setting = CurrentDevice().verify;
    if (setting >= 0) return setting == 1;
    fsinfo::Traits t;
    return !fsinfo::KnownTraits(dev, t) || !t.memoryBacked;
}

void Written(dev_t dev, std::u16string_view from, std::u16string_view to) {
    Known().written[dev].emplace_back(std::u16string(from), std::u16string(to));
}

void Abandon() {
    Known().written.clear();
}

Status Check(dev_t dev, std::u16string& failed) {
    auto it = Known().written.find(dev);
    if (it == Known().written.end()) return {};
    const std::vector<std::pair<std::u16string, std::u16string>> files = std::move(it->second);
    Known().written.erase(it);
    DropLayers(dev);
    std::deque<Pair> ahead;
    for (size_t next = 0; next < files.size() || !ahead.empty();) {
        while (next < files.size() && ahead.size() <= kAhead) ahead.push_back(OpenPair(files[next++]));
        Idle();
        Pair p = std::move(ahead.front());
        ahead.pop_front();
        if (Status s = Compare(p); !s) {
            failed = p.to;
            return s;
        }
    }
    return {};
}

Result<bool> AlreadyThere(int source, const ns::HostEntry& dst, dev_t dev) {
    if (writeback::FirstLookSinceFlush(dev)) DropLayers(dev);
    Result<host::Fd> placed = OpenPlaced(dst);
    if (!placed) return placed.error();
    return SameBytes(placed->get(), source);
}

}  // namespace wce::kernel::verify
