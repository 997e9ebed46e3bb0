#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/activity.h"
#include "platform/kernel/device.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/verify.h"
#include "platform/kernel/services/writeback.h"

namespace wce::kernel::verify {
namespace {

using Copy = writeback::ReadBack;

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
        Idle();
    }
    return {};
}

// Once for the whole filesystem: the layers beneath hold the pages of every file.
void DropLayers(dev_t dev) {
    if (const std::string why = writeback::DropCached(dev); !why.empty())
        ReportNotice("read back from the host's cache, not from the card: " + why);
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

bool Applies(dev_t dev) {
    const int setting = CurrentDevice().verify;
    if (setting >= 0) return setting == 1;
    fsinfo::Traits t;
    return !fsinfo::KnownTraits(dev, t) || !t.memoryBacked;
}

void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to,
                   const struct stat& source) {
    writeback::Open(dev).readBacks.push_back(
        {std::u16string(from), std::u16string(to), source.st_size, source.st_mtim});
}

Status Check(dev_t dev) {
    const std::vector<Copy>& files = writeback::Open(dev).readBacks;
    if (files.empty()) return {};
    if (Status s = ns::RootUnchanged(); !s) return s;
    DropLayers(dev);
    for (const Copy& c : files) {
        Idle();
        if (Status s = Compare(c, dev); !s) return s.At("read back", c.to);
    }
    return {};
}

void ReadPastCaches(int fd, dev_t dev, int dirfd) {
    writeback::Watch(dev, dirfd);
    if (writeback::FirstLookSinceFlush(dev)) DropLayers(dev);
    host::Live().fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

Status AlreadyThere(int source, const ns::Entry& dst, dev_t dev, host::Fd& placed) {
    if (writeback::FirstLookSinceFlush(dev)) DropLayers(dev);
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

}  // namespace wce::kernel::verify
