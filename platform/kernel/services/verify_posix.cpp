#include <fcntl.h>
#include <sys/stat.h>

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
#include "platform/kernel/services/verify.h"

namespace wce::kernel::verify {
namespace {

// Large enough that a medium is read in long runs, small enough to stay out of the way.
constexpr size_t kBlock = 1 << 20;

// The file at a device path opened for reading; its status in st.
Status Open(std::u16string_view path, host::Fd& fd, struct stat& st) {
    ns::HostEntry e;
    if (Status s = ns::OpenExisting(path, e, fd, O_RDONLY | O_NONBLOCK); !s) return s;
    st = e.st;
    return {};
}

Status ReadFully(int fd, char* buf, size_t n, off_t pos) {
    for (size_t done = 0; done < n;) {
        const ssize_t r = host::PRead(fd, buf + done, n - done, pos + static_cast<off_t>(done));
        if (r < 0) return HostError();
        if (r == 0) return Error{EBADMSG};  // shorter than it says it is
        done += static_cast<size_t>(r);
    }
    return {};
}

// Streams both files side by side; the copy's cached pages are let go of first, so its reads
// reach the medium (on a FUSE filesystem, its driver).
Status Compare(std::u16string_view from, std::u16string_view to) {
    host::Fd src, dst;
    struct stat sst {
    }, dstst{};
    if (Status s = Open(to, dst, dstst); !s) return s;
    if (Status s = Open(from, src, sst); !s) return s;
    if (sst.st_size != dstst.st_size) return Error{EBADMSG};
    host::FAdvise(dst.get(), 0, 0, POSIX_FADV_DONTNEED);
    thread_local std::unique_ptr<char[]> a(new char[kBlock]), b(new char[kBlock]);
    for (off_t pos = 0; pos < dstst.st_size; pos += static_cast<off_t>(kBlock)) {
        const auto n =
            static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kBlock), dstst.st_size - pos));
        if (Status s = ReadFully(dst.get(), a.get(), n, pos); !s) return s;
        if (Status s = ReadFully(src.get(), b.get(), n, pos); !s) return s;
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
    for (const auto& [from, to] : files) {
        Idle();
        if (Status s = Compare(from, to); !s) {
            failed = to;
            return s;
        }
    }
    return {};
}

}  // namespace wce::kernel::verify
