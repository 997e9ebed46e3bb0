// Device paths resolved: mapped folders, folders cached by folded path, names exact, else by case.
#include <fcntl.h>

#include <cerrno>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/names.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/namespace_internal.h"
#include "platform/kernel/ns/paths.h"

namespace wce::kernel::ns {
namespace {

constexpr size_t kMaxCachedDirs = 8192;

int OpenFolderFd(std::string_view dirHost) {
    const auto& open = KnownFolders().open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (it->dirHost == dirHost) return it->fd;
    return AT_FDCWD;
}

// Starts out as the entry name would be in the host folder dirHost, not yet looked at.
Status BeginEntry(const std::string& dirHost, std::u16string_view name, HostEntry& out) {
    out.path.assign(dirHost).push_back('/');
    out.nameOffset = out.path.size();
    out.exists = false;
    out.presumed = false;
    out.real.clear();
    out.dirHold.reset();
    out.dirfd = OpenFolderFd(dirHost);
    out.dirDevKnown = false;
    if (Status s = names::DeviceToHost(name, out.path); !s) return s;
    if (out.path.size() - out.nameOffset > NAME_MAX) return Error{ENAMETOOLONG, Kind::BadName};
    return {};
}

Status StatFound(HostEntry& out) {
    const Location at = out.named();
    if (host::Live().fstatat(at.dirfd, at.name, &out.st, AT_SYMLINK_NOFOLLOW) != 0)
        return HostError();
    out.exists = true;
    out.real.clear();
    if (!S_ISLNK(out.st.st_mode)) return {};
    return FollowConfined(out.path, out.real, out.st);
}

// LookupError: a folder on the way that is no folder (any more) means the cached one is stale.
Error LookupError(const Error& e) {
    if (e.err == ENOTDIR) return Error{ENOTDIR, Kind::Stale};
    return e;
}
// What failed of a folder on the way to an entry is that folder's failure.
Error AsFolderError(Error e) {
    if (e.kind == Kind::Entry) e.kind = Kind::Folder;
    return e;
}
// A folder that cannot be read where a table of it was wanted: gone or replaced, it is stale.
Error TableError(const Error& e) {
    return e.err == ENOENT || e.err == ENOTDIR ? Error{e.err, Kind::Stale}
                                               : Error{e.err, Kind::Entry};
}

// FindInTable: the entry as spelt in t, or missing (presumed where the name was not looked at).
Status FindInTable(const FoldedTable& t, std::u16string_view name, HostEntry& out, bool presumed) {
    std::u16string key;
    paths::AppendFolded(name, key);
    out.dirDevKnown = true;
    out.dirDev = t.listed.stamp.dev;
    auto hit = t.byFolded.find(key);
    if (hit == t.byFolded.end()) {
        out.presumed = presumed;
        return {};
    }
    out.path.resize(out.nameOffset);
    out.path += hit->second;
    const Status found = StatFound(out);
    out.exists = found.ok();
    return found.ok() || found.Is(ENOENT) ? Status() : Status(LookupError(found.error()));
}

// LookupInTable: one look at the folder, not at name and folder on a miss; false when no table.
Result<bool> LookupInTable(const std::string& dirHost, std::u16string_view name, HostEntry& out) {
    if (KnownFolders().folded.find(dirHost) == KnownFolders().folded.end()) return false;
    Result<FoldedTable*> table = TableFor(dirHost);
    if (!table) return TableError(table.error());
    // A table given up meanwhile for the host's own case folding cannot say a name is missing.
    if (*table == &KnownFolders().foldingFolder) return false;
    if (Status s = FindInTable(**table, name, out, true); !s) return s.error();
    return true;
}

// Looks up one name in an existing host folder: exact spelling, else one differing in case.
Status LookupChild(const std::string& dirHost, std::u16string_view name, HostEntry& out,
                   bool trustTable = false) {
    if (Status s = BeginEntry(dirHost, name, out); !s) return s;
    // A folder we made fills with names not there yet: its table knows them without a look each.
    if (trustTable || MadeAndFresh(dirHost)) {
        const Result<bool> answered = LookupInTable(dirHost, name, out);
        if (!answered || *answered) return answered ? Status() : Status(answered.error());
    }
    Status found = StatFound(out);
    if (found) {
        out.dirDevKnown = out.real.empty();
        out.dirDev = out.st.st_dev;
        return {};
    }
    if (!found.Is(ENOENT)) return LookupError(found.error());
    Result<FoldedTable*> table = TableFor(dirHost);
    if (!table) return TableError(table.error());
    return FindInTable(**table, name, out, false);
}

bool IsMedium(const paths::Components& c) {
    return c.count > 0 && paths::FoldedEqual(c.items[0], Mapped().mediumName);
}

// ResolveDir: missing or non-folders fail as Folder; a stale cached one as Stale, retried uncached.
Status ResolveDir(const paths::Components& c, bool useCache, std::string& dirHost) {
    auto& m = KnownFolders();
    const size_t n = c.count - 1;
    bool medium = IsMedium(c) && n >= 1;
    dirHost = medium ? Mapped().mediumHost : Mapped().rootHost;
    std::u16string key;
    for (size_t k = 0; k < n; ++k) paths::AppendFolded(c.items[k], key.append(u"\\"));
    if (useCache) {
        auto it = m.dirs.find(key);
        if (it != m.dirs.end()) {
            dirHost = it->second;
            return {};
        }
    }
    HostEntry e;
    for (size_t k = medium ? 1 : 0; k < n; ++k) {
        Status r = LookupChild(dirHost, c.items[k], e);
        if (r.Is(Kind::Stale) && useCache) return r;
        if (r.Is(Kind::Stale) || r.Is(ENOENT)) return Error{ENOENT, Kind::Folder};
        if (!r) return AsFolderError(r.error());
        if (!e.exists) return Error{ENOENT, Kind::Folder};
        if (!S_ISDIR(e.st.st_mode)) return Error{ENOTDIR, Kind::Folder};
        dirHost = e.real.empty() ? e.path : e.real;
    }
    if (m.dirs.size() >= kMaxCachedDirs) m.dirs.clear();
    m.dirs.insert_or_assign(key, dirHost);
    return {};
}

Status ResolveMappedFolder(const std::string& host, HostEntry& out) {
    out = HostEntry{};
    out.path = host;
    out.exists = host::Live().fstatat(AT_FDCWD, host.c_str(), &out.st, 0) == 0;
    return out.exists ? Status() : Status(HostError(Kind::Folder));
}

Status ResolveOnce(std::u16string_view devicePath, HostEntry& out, bool useCache, bool trustTable) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    if (c.count == 0) return ResolveMappedFolder(Mapped().rootHost, out);
    if (c.count == 1 && IsMedium(c)) return ResolveMappedFolder(Mapped().mediumHost, out);
    std::string dirHost;
    if (Status s = ResolveDir(c, useCache, dirHost); !s) return s;
    Status r = LookupChild(dirHost, c.items[c.count - 1], out, trustTable);
    if (r.Is(Kind::Stale) && useCache) return r;
    // The folder holding the name vanished under the lookup.
    if (r.Is(Kind::Stale) || r.Is(ENOENT)) return Error{ENOENT, Kind::Folder};
    return r;
}

// RetryUncached: attempt(true) through the cached folders, attempt(false) when one was stale.
template <class Attempt>
Status RetryUncached(const Attempt& attempt) {
    Status r = attempt(true);
    if (!r.Is(Kind::Stale)) return r;
    KnownFolders().ForgetResolved();
    return attempt(false);
}

bool Recalled(std::u16string_view devicePath, HostEntry& out) {
    const LastAnswer<HostEntry>& r = KnownFolders().lastResolved;
    if (!r.Answers(devicePath)) return false;
    out = r.value;
    out.dirfd = out.nameOffset == 0 ? AT_FDCWD : OpenFolderFd(out.dir());
    return true;
}

Status Remembered(std::u16string_view devicePath, const HostEntry& e, int64_t at, Status s) {
    LastAnswer<HostEntry>& r = KnownFolders().lastResolved;
    if (!s || e.presumed) {
        r = {};
        return s;
    }
    r.Keep(devicePath, {}, e, at);
    r.value.dirHold.reset();  // descriptors are the caller's; the next one opens its own
    r.value.dirfd = AT_FDCWD;
    return s;
}

Status ResolveAs(std::u16string_view devicePath, HostEntry& out, bool trustTable) {
    if (Recalled(devicePath, out)) return {};
    const int64_t at = fsinfo::Now();
    return Remembered(devicePath, out, at, RetryUncached([&](bool useCache) {
                          return ResolveOnce(devicePath, out, useCache, trustTable);
                      }));
}

}  // namespace

void NoteEntryStale() {
    KnownFolders().lastResolved = {};
}

Status Resolve(std::u16string_view devicePath, HostEntry& out) {
    return ResolveAs(devicePath, out, false);
}

Status ResolveTarget(std::u16string_view devicePath, HostEntry& out) {
    return ResolveAs(devicePath, out, true);
}

Status ResolveExisting(std::u16string_view devicePath, HostEntry& out) {
    Status s = Resolve(devicePath, out);
    return s && !out.exists ? Status(Error{ENOENT}) : s;
}

Status OpenResolved(HostEntry& e, host::Fd& fd, int flags) {
    const Location at = e.where();
    fd.reset(host::OpenAt(at.dirfd, at.name, flags | O_NOFOLLOW));
    return HostStatus(fd.valid() ? host::FStat(fd.get(), &e.st) : -1);
}

Status OpenExisting(std::u16string_view devicePath, HostEntry& out, host::Fd& fd, int flags) {
    if (Status s = ResolveExisting(devicePath, out); !s) return s;
    return OpenResolved(out, fd, flags);
}

Status ResolvePattern(std::u16string_view devicePath, std::string& dirHost,
                      std::u16string_view& pattern) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    size_t slash = devicePath.rfind(u'\\');
    pattern = devicePath.substr(slash + 1);
    if (c.count == 0 || pattern.empty() || c.items[c.count - 1] != pattern)
        return Error{EINVAL, Kind::BadName};
    return RetryUncached([&](bool useCache) { return ResolveDir(c, useCache, dirHost); });
}

void NoteOpenFolder(const std::string& dirHost, int fd) {
    KnownFolders().open.push_back({dirHost, fd});
}

void NoteClosedFolder(int fd) {
    auto& open = KnownFolders().open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (it->fd == fd) {
            open.erase(std::next(it).base());
            return;
        }
}

void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName) {
    Mapping& m = Mapped();
    auto trim = [](std::string s) {
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    };
    m.rootHost = trim(hostRoot);
    m.mediumHost = trim(hostMedium);
    m.mediumName = mediumName;
    if (!Canonical(m.rootHost, m.rootReal)) m.rootReal = m.rootHost;
    if (!Canonical(m.mediumHost, m.mediumReal)) m.mediumReal = m.mediumHost;
}

Mapping& Mapped() {
    static Mapping* m = new Mapping;
    return *m;
}

}  // namespace wce::kernel::ns
