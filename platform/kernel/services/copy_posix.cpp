// File copy: a new file is written unnamed and linked when complete, a replacement beside it and
// renamed over, so no reader sees a torn file and a failure or kill leaves the old target.
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "platform/kernel/activity.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/batch.h"
#include "platform/kernel/services/copy.h"

namespace wce::kernel {
namespace {

constexpr size_t kBufferSize = 256 * 1024;

// Where the data is written behind (batch.h), the device to account it to.
struct WriteBehind {
    bool on = false;
    dev_t dev = 0;
};

// CopyByReadWrite to end, or to EOF if end is 0: some special filesystems report no size.
Status CopyByReadWrite(int in, int out, off_t pos, off_t end, const WriteBehind& behind) {
    thread_local std::unique_ptr<char[]> buf(new char[kBufferSize]);
    for (off_t started = pos;;) {
        const size_t want =
            end == 0 ? kBufferSize : static_cast<size_t>(std::min<off_t>(kBufferSize, end - pos));
        ssize_t n = want == 0 ? 0 : host::PRead(in, buf.get(), want, pos);
        if (n < 0) return HostError("pread");
        if (behind.on && (n == 0 || pos - started >= batch::kPiece)) {
            if (Status s = batch::Start(out, behind.dev, started, pos - started); !s) return s;
            started = pos;
        }
        if (n == 0) return {};
        for (ssize_t done = 0; done < n;) {
            ssize_t w = host::Write(out, buf.get() + done, static_cast<size_t>(n - done));
            if (w < 0) return HostError("write");
            done += w;
        }
        pos += n;
    }
}

// CopyData uses the fastest means both filesystems offer, remembering each one refused there.
Status CopyData(int in, int out, const struct stat& src, dev_t dstDev, const WriteBehind& behind) {
    if (src.st_size == 0) return CopyByReadWrite(in, out, 0, 0, behind);
    if (!fsinfo::Refused(dstDev, fsinfo::Feature::Clone, src.st_dev)) {
        const auto from = reinterpret_cast<void*>(static_cast<std::intptr_t>(in));
        const int err = host::Live().ioctl(out, FICLONE, from) == 0 ? 0 : errno;
        const Status s =
            fsinfo::Tried(dstDev, fsinfo::Feature::Clone, "ioctl FICLONE", err, src.st_dev);
        if (!s || err == 0) return s;
    }
    off_t pos = 0;
    if (!fsinfo::Refused(dstDev, fsinfo::Feature::CopyRange, src.st_dev)) {
        const auto piece = static_cast<size_t>(behind.on ? batch::kPiece : src.st_size);
        for (auto left = static_cast<size_t>(src.st_size); left > 0;) {
            ssize_t n = host::CopyFileRange(in, &pos, out, std::min(left, piece));
            if (n > 0) {
                left -= static_cast<size_t>(n);
                if (behind.on)
                    if (Status s = batch::Start(out, behind.dev, pos - n, n); !s) return s;
                continue;
            }
            if (n == 0) return {};  // the source shrank meanwhile
            const Error e = HostError("copy_file_range");
            if (pos != 0 ||
                !fsinfo::NoteRefusal(dstDev, fsinfo::Feature::CopyRange, e.err, src.st_dev))
                return e;
            break;
        }
        if (pos != 0) return {};
    }
    return CopyByReadWrite(in, out, pos, src.st_size, behind);
}

// Appends n in decimal: cheaper than formatting, and it runs for every file copied.
void AppendNumber(std::string& s, unsigned long n) {
    char digits[24];
    s.append(digits, std::to_chars(digits, std::end(digits), n).ptr);
}

constexpr std::string_view kTempPrefix = ".wce-copy-";
constexpr std::string_view kTempSuffix = ".tmp";

// Exactly the names CreateTemp makes: prefix, pid, '-', counter, suffix.
bool IsTempName(std::string_view name) {
    if (name.size() <= kTempPrefix.size() + kTempSuffix.size() || !name.starts_with(kTempPrefix) ||
        !name.ends_with(kTempSuffix))
        return false;
    name = name.substr(kTempPrefix.size(), name.size() - kTempPrefix.size() - kTempSuffix.size());
    const size_t dash = name.find('-');
    return dash != std::string_view::npos && dash > 0 && dash + 1 < name.size() &&
           name.rfind('-') == dash &&
           name.find_first_not_of("0123456789-") == std::string_view::npos;
}

// A temporary's 8.3 alias on FAT ("WCE-CO~3.TMP"): a pull can keep its short entry without the
// long-name slots before it, which its folder's writes carry apart from its own.
bool IsTempAlias(std::string_view name) {
    if (name.size() < 11 || strncasecmp(name.data(), "WCE-CO~", 7) != 0 ||
        strncasecmp(name.data() + name.size() - 4, ".TMP", 4) != 0)
        return false;
    const std::string_view n = name.substr(7, name.size() - 11);
    return !n.empty() && n.find_first_not_of("0123456789") == std::string_view::npos;
}

// SweepDeadTemps: writers lock their temporaries, so a lockable one is a dead writer's (any host).
// Once a flush per folder: the next copies after one look for what a failed one left behind.
void SweepDeadTemps(const ns::Node& dir) {
    if (!batch::Open(dir.st.st_dev).swept.insert(dir.st.st_ino).second) return;
    const int dirfd = dir.fd.get();
    const bool fat = fsinfo::TraitsOf(dir.st.st_dev, dirfd, "").unordered;
    const auto sweep = [&](const std::string& name) {
        if (!IsTempName(name) && !(fat && IsTempAlias(name))) return;
        // Looked at before it is opened: opening a device or pipe of that name can act on it.
        struct stat st {};
        if (host::Live().fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            return;
        host::Fd fd;
        if (ns::OpenChecked({dirfd, name.c_str()}, st, O_RDONLY, fd) &&
            host::Live().flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            host::Live().unlinkat(dirfd, name.c_str(), 0);
    };
    // The folder's name table, where the walk just judged it, holds what a dead writer left: a
    // second listing would cost FUSE and FAT drivers a round trip per page of names.
    if (dir.listed) {
        for (const auto& [key, name] : dir.byFolded) sweep(name);
        return;
    }
    ns::DirListing listing;
    if (!ns::ReadListing(dirfd, listing)) return;
    for (const auto& e : listing.entries) sweep(std::string(listing.name(e)));
}

// DropTemp lets go of its data before removing temp, else FUSE keeps it as a hidden file.
void DropTemp(const ns::Node& dir, const std::string& temp) {
    batch::Untrack(dir.fd.get(), temp.c_str());
    host::Live().unlinkat(dir.fd.get(), temp.c_str(), 0);
}

// CreateTemp: O_EXCL and a per-process counter keep it unique (a forked child meets EEXIST).
Status CreateTemp(const ns::Entry& dst, std::string& temp, host::Fd& fd) {
    static const auto pid = static_cast<unsigned long>(getpid());
    static unsigned long counter = 0;
    SweepDeadTemps(*dst.dir);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp.assign(kTempPrefix);
        AppendNumber(temp, pid);
        temp.push_back('-');
        AppendNumber(temp, ++counter);
        temp.append(kTempSuffix);
        fd.reset(host::OpenAt(dst.dir->fd.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
        if (!fd.valid()) {
            if (const Error e = HostError("openat"); e.err != EEXIST) return e;
            continue;
        }
        if (host::Live().flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return {};
        // Where the host has no locks, the temporary goes unlocked: a sweep there removes nothing.
        if (const int err = HostError("flock").err;
            err == ENOLCK || err == EINVAL || err == EOPNOTSUPP)
            return {};
        fd.reset();
        host::Live().unlinkat(dst.dir->fd.get(), temp.c_str(), 0);
    }
    return Error{EEXIST};
}

// CheckTarget refuses a folder, the source, a hidden or read-only file; a link is just replaced.
// word: the target's attribute word, where it was read (a file's).
Status CheckTarget(const ns::Entry& dst, const struct stat& src, BOOL failIfExists, DWORD& word) {
    if (dst.IsLink()) return failIfExists ? Status(Error{EEXIST, Kind::Taken}) : Status();
    if (S_ISDIR(dst.st.st_mode)) return Error{EISDIR};  // the mapped folders too
    if (dst.st.st_dev == src.st_dev && dst.st.st_ino == src.st_ino)
        return Error{EBUSY, Kind::SameFile};
    if (failIfExists) return Error{EEXIST, Kind::Taken};
    if (Status s = attrs::Read(dst.where(), dst.st, word); !s) return s;
    return word & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY) ? Status(Error{EACCES})
                                                                    : Status();
}

// CarryTime brings last-write as the device's copy does (FAT: 2 s), set last: every write moves it.
Status CarryTime(int fd, const struct stat& src, dev_t dev) {
    // Both times: some FUSE drivers (fusefat) take neither when one is left out.
    const struct timespec times[2] = {src.st_atim, src.st_mtim};
    if (fsinfo::Refused(dev, fsinfo::Feature::Times)) return {};
    const int err = host::Live().futimens(fd, times) == 0 ? 0 : errno;
    return fsinfo::Tried(dev, fsinfo::Feature::Times, "futimens", err);
}

// Whether a kept file's time is the source's as its filesystem keeps it (FAT: even seconds).
bool SameTime(const struct stat& dst, const struct stat& src, dev_t dev) {
    if (dst.st_mtim.tv_sec == src.st_mtim.tv_sec && dst.st_mtim.tv_nsec == src.st_mtim.tv_nsec)
        return true;
    fsinfo::Traits t;
    return fsinfo::KnownTraits(dev, t) && !t.fineStamps && dst.st_mtim.tv_nsec == 0 &&
           dst.st_mtim.tv_sec == (src.st_mtim.tv_sec & ~time_t{1});
}

// Reserve: on FAT the whole chain is allocated and on the card before any data, so an entry
// written back while the data goes never names clusters the table holds free (a pull leaves a
// temporary the next install can remove). Where refused, the data allocates as it goes. syncfs,
// not fsync: vfat's fsync writes the entry before the table (seen: a pull between left an entry
// naming free clusters, and the next install found the card read-only), syncfs writes the
// device's pages in order, the table before the folders.
Status Reserve(int out, off_t size) {
    if (size == 0) return {};
    if (host::Live().fallocate(out, FALLOC_FL_KEEP_SIZE, 0, size) != 0)
        return errno == ENOSPC ? HostError("fallocate") : Status();
    return HostStatus(host::Live().syncfs(out), "syncfs");
}

// FillNew writes the source's data and attributes into out; dev gets the device it lies on.
Status FillNew(int in, int out, const struct stat& src, DWORD srcAttrs, const ns::Entry& dst,
               dev_t& dev) {
    // The new file's own status is needed only for its mode: it lies on its folder's device.
    struct stat tst {};
    tst.st_dev = dst.dir->st.st_dev;
    if ((srcAttrs & attrs::kSettable) != 0)
        if (host::FStat(out, &tst) != 0) return HostError("fstat");
    dev = tst.st_dev;
    const fsinfo::Traits traits = fsinfo::TraitsOf(dev, out, "");
    batch::Watch(dev, dst.dir->fd.get());
    const WriteBehind behind{batch::WritesBehind(dev, traits), dev};
    if (traits.unordered)
        if (Status s = Reserve(out, src.st_size); !s) return s;
    if (Status s = CopyData(in, out, src, tst.st_dev, behind); !s) return s;
    if (Status s = attrs::WriteNew(out, tst, srcAttrs); !s) return s;
    // On FUSE CarryTime waits until the file is placed: fusefat stamps a file again when renamed.
    if (!traits.fuse)
        if (Status s = CarryTime(out, src, dev); !s) return s;
    // On FAT a name can reach the card before what it names: the file is durable before it is
    // named.
    return traits.unordered ? HostStatus(host::Live().fsync(out), "fsync") : Status();
}

// WriteTemp leaves no temporary on failure; on FUSE and FAT timed keeps a dup for once it is
// placed (CarryTime, Settle).
Status WriteTemp(int in, const struct stat& src, DWORD srcAttrs, const ns::Entry& dst,
                 std::string& temp, dev_t& dev, host::Fd& timed) {
    host::Fd out;
    if (Status s = CreateTemp(dst, temp, out); !s) return s;
    Status s = FillNew(in, out.get(), src, srcAttrs, dst, dev);
    if (fsinfo::Traits t; s && fsinfo::KnownTraits(dev, t) && (t.fuse || t.unordered)) {
        timed.reset(host::Live().dup(out.get()));
        if (!timed.valid()) s = HostError("dup");
    }
    // Closed here, not by the destructor, so an error its close reports still stops the placing.
    if (s && host::Live().close(out.release()) != 0) s = HostError("close");
    if (!s) {
        timed.reset();
        out.reset();
        DropTemp(*dst.dir, temp);  // by name: after a failed close, out holds no descriptor
    }
    return s;
}

// Retarget rechecks a name taken meanwhile, so it is replaced only where a copy was allowed.
Status Retarget(LPCWSTR target, ns::Entry& dst, const struct stat& src, BOOL failIfExists) {
    if (failIfExists) return Error{EEXIST, Kind::Taken};
    Status s = ns::Resolve(target, dst);
    if (DWORD word = 0; s && dst.exists) s = CheckTarget(dst, src, FALSE, word);
    return s;
}

// PlaceUnnamed (O_TMPFILE): placed stays false where refused (nothing left) or taken (dst
// describes it).
Status PlaceUnnamed(int in, const struct stat& src, DWORD srcAttrs, LPCWSTR target, ns::Entry& dst,
                    BOOL failIfExists, bool& placed) {
    const dev_t folderDev = dst.dir->st.st_dev;
    if (fsinfo::Refused(folderDev, fsinfo::Feature::Unnamed) ||
        fsinfo::Refused(folderDev, fsinfo::Feature::LinkUnnamed))
        return {};
    host::Fd out(host::OpenAt(dst.dir->fd.get(), ".", O_WRONLY | O_TMPFILE, 0666));
    if (!out.valid()) {
        // Kernels older than unnamed files take the flag for O_DIRECTORY and answer EISDIR.
        const int opened = HostError("openat").err;
        const int err = opened == EISDIR ? EOPNOTSUPP : opened;
        return fsinfo::NoteRefusal(folderDev, fsinfo::Feature::Unnamed, err) ? Status()
                                                                             : Error{err};
    }
    dev_t dev = 0;
    if (Status s = FillNew(in, out.get(), src, srcAttrs, dst, dev); !s) {
        batch::Untrack(out.get());
        return s;
    }
    const Status named = ns::NameUnnamed(out.get(), dst);
    if ((placed = static_cast<bool>(named))) return {};
    if (named.Is(EEXIST)) return Retarget(target, dst, src, failIfExists);
    return fsinfo::NoteRefusal(dev, fsinfo::Feature::LinkUnnamed, named.error().err) ? Status()
                                                                                     : named;
}

// Settle: on FAT the removal of the temporary's entry reaches the card first, then the entry
// naming its data: pulled between, the card holds the old file and unnamed clusters, never two
// entries naming one chain; pulled before the second, never an entry naming freed clusters.
Status Settle(int placed, const ns::Entry& dst) {
    host::Fd dir(host::OpenAt(dst.dir->fd.get(), ".", O_RDONLY | O_DIRECTORY));
    if (!dir.valid() || host::Live().fsync(dir.get()) != 0) return HostError("fsync");
    return HostStatus(host::Live().fsync(placed), "fsync");
}

// AfterPlacing: FUSE takes the time only now (fusefat stamps a renamed file); FAT is settled.
Status AfterPlacing(int placed, const ns::Entry& dst, const struct stat& src, dev_t dev) {
    fsinfo::Traits t;
    if (!fsinfo::KnownTraits(dev, t)) return {};
    if (t.fuse) return CarryTime(placed, src, dev);
    return t.unordered ? Settle(placed, dst) : Status();
}

// HoldReplaced: on FAT, the file a rename will replace, held so that its clusters stay allocated
// until its replacement's entry is on the card (Settle); else no descriptor.
host::Fd HoldReplaced(const ns::Entry& dst, dev_t dev) {
    fsinfo::Traits t;
    if (!dst.exists || dst.IsLink() || !fsinfo::KnownTraits(dev, t) || !t.unordered)
        return host::Fd();
    const ns::Location at = dst.named();
    return host::Fd(host::OpenAt(at.dirfd, at.name, O_PATH | O_NOFOLLOW));
}

// WriteAndPlace: PlaceUnnamed for a missing name, else a temporary renamed on (ns::Rename).
Status WriteAndPlace(int in, const struct stat& src, DWORD srcAttrs, ns::Entry& dst, LPCWSTR target,
                     BOOL failIfExists) {
    if (bool placed = false; !dst.exists) {
        const Status s = PlaceUnnamed(in, src, srcAttrs, target, dst, failIfExists, placed);
        if (!s || placed) return s;
    }
    for (int attempt = 0;; ++attempt) {
        std::string temp;
        dev_t dev = 0;
        host::Fd timed;
        if (Status s = WriteTemp(in, src, srcAttrs, dst, temp, dev, timed); !s) return s;
        host::Fd replaced = HoldReplaced(dst, dev);
        // Exclusive only where asked or presumed missing: a plain rename saves FUSE round trips.
        const bool exclusive =
            failIfExists ||
            (dst.presumed && !fsinfo::Refused(dev, fsinfo::Feature::RenameNoReplace));
        Status s = ns::Rename(temp, dst, exclusive, dev);
        if (s.Is(EEXIST) && (dst.presumed || failIfExists)) {
            s = Retarget(target, dst, src, failIfExists);
            if (s && !replaced.valid()) replaced = HoldReplaced(dst, dev);
            if (s) s = ns::Rename(temp, dst, false, dev);
        }
        // The replaced file is let go of (its clusters freed) only once its replacement is settled.
        if (s && timed.valid()) s = AfterPlacing(timed.get(), dst, src, dev);
        if (s) return s;
        timed.reset();  // no descriptor may keep the temporary alive (FUSE would hide it)
        DropTemp(*dst.dir, temp);
        // ENOENT: another install's sweep took the temporary, still unlocked, as dead; go again.
        if (!s.Is(ENOENT) || attempt > 0) return s;
    }
}

// Stamp gives a kept file, through the descriptor it was compared by, the source's bits and time;
// now: its word as CheckTarget read it (its stamps stayed as they were across the compare).
// A refusal there is that file's (immutable, say), never learnt as its filesystem's.
Status Stamp(int fd, const struct stat& src, DWORD wanted, DWORD now, const ns::Entry& dst,
             dev_t dev) {
    const bool timed = SameTime(dst.st, src, dev);
    if ((now & attrs::kSettable) == wanted && timed) return {};
    fsinfo::ExistingEntry existing;
    // Bits to add: WriteNew, as for a new file; one to clear (system: installs reset others):
    // Write.
    Status s = (now & attrs::kSettable & ~wanted) == 0 ? attrs::WriteNew(fd, dst.st, wanted)
                                                       : attrs::WriteOpen(fd, dst.st, wanted);
    dst.dir->entries.erase(dst.leaf);  // what was read of the target before is out of date
    if (s && !timed) s = CarryTime(fd, src, dev);
    return s;
}

// KeptAsItIs: a target the card reads back as the source stays (kept), given the source's attrs
// and time. Not a file with other names: stamping it would change a file outside the device.
Status KeptAsItIs(int in, const struct stat& src, DWORD srcAttrs, DWORD dstAttrs,
                  const ns::Entry& dst, dev_t dev, bool& kept) {
    // Only where batch::ReadsBack: a comparison the host's cache could answer proves nothing.
    if (dst.IsLink() || !S_ISREG(dst.st.st_mode) || dst.st.st_nlink != 1 ||
        dst.st.st_size != src.st_size || !batch::ReadsBack(dev))
        return {};
    batch::Watch(dev, dst.dir->fd.get());
    host::Fd same;
    if (!batch::AlreadyThere(in, dst, dev, same) || !same.valid()) return {};
    // What a killed copy left in the folder goes as it would before a copy there.
    SweepDeadTemps(*dst.dir);
    const Status s = Stamp(same.get(), src, srcAttrs & attrs::kSettable, dstAttrs, dst, dev);
    // Refused for this file alone: a copy replaces it, or fails naming it.
    if (s.Is(EPERM) || s.Is(EACCES)) return {};
    kept = static_cast<bool>(s);
    return s;
}

// What a copy did, for the activity listener.
struct Copied {
    off_t bytes = 0;
    dev_t dev = 0;      // the target's filesystem
    bool kept = false;  // the target already held the bytes (KeptAsItIs)
    struct stat source {};
};

// The copy: the file opened is the one copied, whole. A failure of the source carries its path.
Status Copy(LPCWSTR from, LPCWSTR to, BOOL failIfExists, Copied& done) {
    ns::Entry src, dst;
    host::Fd in;
    if (Status s = ns::OpenRegular(from, src, in, true); !s) return s.At("copy", from);
    const struct stat& st = src.st;
    DWORD srcAttrs = 0;
    if (Status s = attrs::Read(src.where(), st, srcAttrs); !s) return s.At("copy", from);
    done.bytes = st.st_size;
    done.source = st;
    // Everything written from here on lands in the target's folder node as it was looked up.
    if (Status s = ns::Resolve(to, dst, ns::Want::Target); !s) return s;
    done.dev = dst.dir->st.st_dev;
    if (dst.exists) {
        DWORD dstAttrs = 0;
        if (Status s = CheckTarget(dst, st, failIfExists, dstAttrs); !s) return s;
        Status s = KeptAsItIs(in.get(), st, srcAttrs, dstAttrs, dst, done.dev, done.kept);
        if (!s || done.kept) return s;
    }
    return WriteAndPlace(in.get(), st, srcAttrs, dst, to, failIfExists);
}

}  // namespace

Status copy::Detach(ns::Entry& e) {
    const ns::Location at = e.named();
    host::Fd in(host::OpenAt(at.dirfd, at.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || host::FStat(in.get(), &st) != 0)
        return HostError(in.valid() ? "fstat" : "openat");
    DWORD a = 0;
    if (Status s = attrs::Read(at, st, a); !s) return s;
    e.st = st;
    if (Status s = WriteAndPlace(in.get(), st, a, e, nullptr, FALSE); !s) return s;
    return HostStatus(host::Live().fstatat(at.dirfd, at.name, &e.st, AT_SYMLINK_NOFOLLOW),
                      "fstatat");
}

}  // namespace wce::kernel

using namespace wce::kernel;

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    Copied done;
    // A failed copy leaves its target as it was: what awaits read-back there still does.
    if (Status s = Copy(lpExistingFileName, lpNewFileName, bFailIfExists, done); !s)
        return Report(s.At("copy", lpNewFileName).error());
    const auto bytes = static_cast<std::uint64_t>(done.bytes);
    Activity* a = g_activity;
    if (done.kept) {
        if (a != nullptr) a->FileKept(lpExistingFileName, lpNewFileName, bytes);
        return TRUE;
    }
    if (batch::ReadsBack(done.dev))
        batch::ReadBackLater(done.dev, lpExistingFileName, lpNewFileName, done.source);
    if (a != nullptr) a->FileCopied(lpExistingFileName, lpNewFileName, bytes);
    return TRUE;
}
