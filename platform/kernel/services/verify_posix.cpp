#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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
// What O_DIRECT reads are aligned to: a page, which every filesystem that takes them accepts.
constexpr size_t kAlign = 4096;

struct AlignedFree {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, AlignedFree>;
Buffer NewBuffer() {
    return Buffer(static_cast<char*>(std::aligned_alloc(kAlign, kBlock)));
}

// The written file at a device path, opened where it was placed (its folder opened without
// following links) and only if it is still the regular file found there, past the host's page
// cache where the filesystem takes O_DIRECT.
Result<host::Fd> OpenWritten(std::u16string_view path, dev_t dev, bool& direct) {
    ns::HostEntry e;
    if (Status s = ns::Resolve(path, e); !s) return s.error();
    if (!e.exists) return Error{ENOENT};
    if (!e.real.empty()) return Error{ESTALE};  // a link stands where the copy was placed
    if (Status s = ns::Confine(e); !s) return s.error();
    const attrs::Location at = e.named();
    direct = !fsinfo::Refused(dev, fsinfo::Feature::DirectRead);
    if (direct) {
        Result<host::Fd> fd = ns::OpenChecked(at.dirfd, at.name, e.st, O_RDONLY | O_DIRECT);
        if (fd || !fsinfo::NoteRefusal(dev, fsinfo::Feature::DirectRead, fd.error().err))
            return fd;
        direct = false;
    }
    return ns::OpenChecked(at.dirfd, at.name, e.st, O_RDONLY);
}

// The source at a device path, only if it is still the regular file its look-up found.
Result<host::Fd> OpenSource(std::u16string_view path) {
    ns::HostEntry e;
    if (Status s = ns::Resolve(path, e); !s) return s.error();
    if (!e.exists) return Error{ENOENT};
    const attrs::Location at = e.where();
    return ns::OpenChecked(at.dirfd, at.name, e.st, O_RDONLY);
}

// Reads n bytes at pos; an O_DIRECT read asks for whole pages and takes a short one at the end.
Status ReadFully(int fd, char* buf, size_t n, off_t pos, bool direct) {
    const size_t ask = direct ? (n + kAlign - 1) / kAlign * kAlign : n;
    for (size_t done = 0; done < n;) {
        const ssize_t r = host::PRead(fd, buf + done, ask - done, pos + static_cast<off_t>(done));
        if (r < 0) return HostError();
        if (r == 0) return Error{EBADMSG};  // shorter than it says it is
        done += static_cast<size_t>(r);
        if (direct && done < n && done % kAlign != 0) return Error{EBADMSG};
    }
    return {};
}

// Streams both files side by side. The copy's own cached pages are let go of too, for a
// filesystem that refuses O_DIRECT.
Status Compare(std::u16string_view from, std::u16string_view to, dev_t dev) {
    bool direct = false;
    Result<host::Fd> dst = OpenWritten(to, dev, direct);
    if (!dst) return dst.error();
    Result<host::Fd> src = OpenSource(from);
    if (!src) return src.error();
    struct stat sst {}, dstst{};
    if (host::FStat(dst->get(), &dstst) != 0 || host::FStat(src->get(), &sst) != 0)
        return HostError();
    if (sst.st_size != dstst.st_size) return Error{EBADMSG};
    if (!direct) host::FAdvise(dst->get(), 0, 0, POSIX_FADV_DONTNEED);
    thread_local Buffer a = NewBuffer(), b = NewBuffer();
    if (!a || !b) return Error{ENOMEM};
    for (off_t pos = 0; pos < dstst.st_size; pos += static_cast<off_t>(kBlock)) {
        const auto n =
            static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kBlock), dstst.st_size - pos));
        if (Status s = ReadFully(dst->get(), a.get(), n, pos, direct); !s) return s;
        if (Status s = ReadFully(src->get(), b.get(), n, pos, false); !s) return s;
        if (std::memcmp(a.get(), b.get(), n) != 0) return Error{EBADMSG};
        Idle();
    }
    return {};
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
    // Once for the whole filesystem: the layers beneath hold the pages of every file.
    if (const std::string why = writeback::DropCached(dev); !why.empty())
        ReportNotice("read back from the host's cache, not from the card: " + why);
    for (const auto& [from, to] : files) {
        Idle();
        if (Status s = Compare(from, to, dev); !s) {
            failed = to;
            return s;
        }
    }
    return {};
}

}  // namespace wce::kernel::verify
