#include "platform/kernel/writeback.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <deque>
#include <unordered_map>

#include "platform/kernel/host_ops.h"

namespace wce::kernel::writeback {
namespace {

// Smaller pieces are not kept open to be waited for one by one: a flush of their filesystem
// settles them together, which costs fewer calls than a descriptor each.
constexpr off_t kKeepOpen = 64 * 1024;

struct Range {
    host::Fd fd;  // invalid: settled by a flush of the whole filesystem
    off_t pos = 0, len = 0;
};

struct Pending {
    std::deque<Range> ranges;
    off_t bytes = 0;
};

// Copies run on one thread; the helper thread never writes.
std::unordered_map<dev_t, Pending>& ByDevice() {
    static std::unordered_map<dev_t, Pending> m;
    return m;
}

// Waits for the oldest data of p; fd is the newest file, through which its filesystem is flushed.
void WaitOldest(Pending& p, int fd) {
    Range& oldest = p.ranges.front();
    if (oldest.fd.valid()) {
        host::SyncFileRange(oldest.fd.get(), oldest.pos, oldest.len,
                            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                SYNC_FILE_RANGE_WAIT_AFTER);
        p.bytes -= oldest.len;
        p.ranges.pop_front();
        return;
    }
    host::SyncFs(fd);
    p.ranges.clear();
    p.bytes = 0;
}

}  // namespace

bool Applies(dev_t dev, const fsinfo::Traits& t) {
    return !t.memoryBacked && !t.fuse && !fsinfo::Refused(dev, fsinfo::Feature::SyncRange);
}

void Written(int fd, dev_t dev, off_t pos, off_t len) {
    if (len <= 0) return;
    if (host::SyncFileRange(fd, pos, len, SYNC_FILE_RANGE_WRITE) != 0) {
        fsinfo::NoteRefusal(dev, fsinfo::Feature::SyncRange, errno);
        return;
    }
    Pending& p = ByDevice()[dev];
    Range r;
    r.pos = pos;
    r.len = len;
    if (len >= kKeepOpen) r.fd.reset(host::Dup(fd));
    p.ranges.push_back(std::move(r));
    p.bytes += len;
    // The range just started is never waited for here: the person sees its file while it goes.
    while (p.ranges.size() > 1 && p.bytes > kBound) WaitOldest(p, fd);
}

void Settled(dev_t dev) { ByDevice().erase(dev); }

void Abandon(dev_t dev, ino_t ino) {
    auto it = ByDevice().find(dev);
    if (it == ByDevice().end()) return;
    Pending& p = it->second;
    std::erase_if(p.ranges, [&](const Range& r) {
        struct stat st {};
        if (!r.fd.valid() || host::FStat(r.fd.get(), &st) != 0 || st.st_ino != ino) return false;
        p.bytes -= r.len;
        return true;
    });
}

void Abandon(int fd) {
    struct stat st {};
    if (ByDevice().empty() || host::FStat(fd, &st) != 0) return;
    Abandon(st.st_dev, st.st_ino);
}

void Abandon(const std::string& path) {
    struct stat st {};
    if (ByDevice().empty() || host::FStatAt(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    Abandon(st.st_dev, st.st_ino);
}

void Reset() { ByDevice().clear(); }

}  // namespace wce::kernel::writeback
