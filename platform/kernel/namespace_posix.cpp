#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <memory>
#include <unordered_map>

#include "platform/kernel/errors.h"
#include "platform/kernel/filesystems.h"
#include "platform/kernel/host_ops.h"
#include "platform/kernel/knowledge.h"
#include "platform/kernel/names.h"
#include "platform/kernel/namespace.h"
#include "platform/kernel/paths.h"

namespace wce::kernel::ns {
namespace {

constexpr size_t kMaxCachedDirs = 8192;
constexpr size_t kMaxFoldedTables = 512;

Folders& M() { return Known().folders; }

bool Within(std::string_view path, std::string_view base) {
    if (base.empty()) return false;
    if (base == "/") return true;
    return path.substr(0, base.size()) == base && (path.size() == base.size() || path[base.size()] == '/');
}

// Absolute path with every link followed, walked component by component so that each step goes
// through the host table.
Status Canonical(const std::string& in, std::string& out) {
    std::string rest = in;
    out.clear();
    size_t i = 0;
    int links = 0;
    char buf[PATH_MAX];
    while (i < rest.size()) {
        if (rest[i] == '/') { ++i; continue; }
        size_t end = std::min(rest.find('/', i), rest.size());
        std::string_view comp(rest.data() + i, end - i);
        i = end;
        if (comp == ".") continue;
        if (comp == "..") { out.resize(out.rfind('/') == std::string::npos ? 0 : out.rfind('/')); continue; }
        std::string cand = out + "/" + std::string(comp);
        struct stat st {};
        if (host::FStatAt(AT_FDCWD, cand.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return HostError();
        if (!S_ISLNK(st.st_mode)) { out = std::move(cand); continue; }
        if (++links > 40) return Error{ELOOP};
        ssize_t n = host::ReadLink(cand.c_str(), buf, sizeof buf);
        if (n < 0) return HostError();
        std::string target(buf, static_cast<size_t>(n));
        rest = target + "/" + rest.substr(i);
        i = 0;
        if (!target.empty() && target[0] == '/') out.clear();
    }
    if (out.empty()) out.assign(1, '/');
    return {};
}

int64_t CurrentTick(int64_t now) { return now / fsinfo::Tick(); }

// Records that t holds what the folder (status st) held at time now.
FoldedTable& Verified(FoldedTable& t, const std::string& dirHost, const struct stat& st,
                      int64_t now) {
    t.stamp = fsinfo::Stamp::Of(st, fsinfo::TraitsOf(st.st_dev, dirHost.c_str()), now);
    t.ownChange = false;
    t.verifiedAt = now;
    t.checkedTick = CurrentTick(now);
    return t;
}

// An empty table for a folder with status st, read at time now; older tables go when too many.
FoldedTable& NewTable(const std::string& dirHost, const struct stat& st, int64_t now, bool made) {
    auto& m = M();
    if (m.folded.size() >= kMaxFoldedTables) m.folded.clear();
    FoldedTable& t = m.folded[dirHost];
    t = FoldedTable{};
    t.made = made;
    return Verified(t, dirHost, st, now);
}

// A name's share of a folder's digest: the digest of a set of names is the sum of their shares,
// so a change of one name updates it, and a folder listed again is compared without a new table.
uint64_t NameDigest(std::string_view name) {
    uint64_t h = std::hash<std::string_view>{}(name);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    return h ^ (h >> 33);
}

uint64_t ListingDigest(const DirListing& listing) {
    uint64_t sum = 0;
    for (const auto& e : listing.entries) sum += NameDigest(listing.name(e));
    return sum;
}

// Finds out once per filesystem whether its lookups ignore case: a name with a letter in it,
// looked up with its case turned, finds the same file or not.
void LearnCaseFolding(const std::string& dirHost, const DirListing& listing, dev_t dev) {
    fsinfo::Traits traits;
    if (!fsinfo::KnownTraits(dev, traits) || traits.foldsCase != -1) return;
    for (const auto& e : listing.entries) {
        std::string name(listing.name(e));
        auto isLetter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
        if (std::none_of(name.begin(), name.end(), isLetter)) continue;
        std::string turned = name;
        for (char& c : turned) {
            const int u = static_cast<unsigned char>(c);
            c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
        }
        struct stat a {}, b {};
        const std::string base = dirHost + "/";
        if (host::FStatAt(AT_FDCWD, (base + name).c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0) return;
        const bool found = host::FStatAt(AT_FDCWD, (base + turned).c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0;
        fsinfo::NoteFoldsCase(dev, found && a.st_ino == b.st_ino);
        return;
    }
}

Result<FoldedTable*> Rebuild(const std::string& dirHost, const struct stat& st, int64_t now) {
    DirListing listing;
    if (Status s = ReadListing(dirHost, listing); !s) return s.error();
    const uint64_t digest = ListingDigest(listing);
    auto old = M().folded.find(dirHost);
    const bool same = old != M().folded.end() && old->second.stamp.ino == st.st_ino;
    // A folder that holds just the names the table knows (this process's own changes) keeps it.
    if (same && old->second.names == digest) return &Verified(old->second, dirHost, st, now);
    FoldedTable& t = NewTable(dirHost, st, now, same && old->second.made);
    t.names = digest;
    LearnCaseFolding(dirHost, listing, st.st_dev);
    std::u16string dev, key;
    for (const auto& e : listing.entries) {
        dev.clear();
        key.clear();
        names::HostToDevice(listing.name(e), dev);
        paths::AppendFolded(dev, key);
        // Sorted input: the first name of a folded group is the byte-order smallest.
        if (!t.byFolded.try_emplace(key, listing.name(e)).second) ++t.collisions;
    }
    return &t;
}

// Whether a table may answer for its folder, by the freshness rule; a change of our own is
// taken in, provisionally, until the folder is due to be checked against the host again.
bool StillFresh(FoldedTable& t, const struct stat& st, int64_t now) {
    if (!t.stamp.SameEntry(st)) return false;
    if (t.stamp.Trusted(st)) return true;
    const bool same = t.stamp.Unchanged(st);
    const fsinfo::Traits traits = fsinfo::TraitsOf(st.st_dev, "");
    const int64_t due = t.ownChange ? fsinfo::OwnChangeCheck(traits) : fsinfo::StampWindow(traits);
    if (!(same || t.ownChange) || now - t.verifiedAt >= due) return false;
    t.stamp = fsinfo::Stamp::Unsettled(st);
    t.ownChange = false;
    return true;
}

// The empty table that stands for a folder whose filesystem ignores case: it knows no names.
FoldedTable& FoldingFolder() {
    thread_local FoldedTable none;
    return none;
}

// The folded-name table of a folder, filled again only when the freshness rule asks for it; the
// folder's stamps are compared at most once per clock tick, so a walk filling a folder does not
// pay a status read of the folder for every name it looks up there. A folder that cannot be read
// fails as a folder.
Result<FoldedTable*> TableFor(const std::string& dirHost) {
    const int64_t now = fsinfo::Now();
    const int64_t tick = CurrentTick(now);
    auto it = M().folded.find(dirHost);
    if (it != M().folded.end() && it->second.checkedTick == tick) return &it->second;
    struct stat st {};
    if (host::FStatAt(AT_FDCWD, dirHost.c_str(), &st, 0) != 0) return HostError(Kind::Folder);
    if (!S_ISDIR(st.st_mode)) return Error{ENOTDIR, Kind::Folder};
    // Where the host ignores case itself, its answer covers every spelling: no table is needed.
    if (fsinfo::TraitsOf(st.st_dev, dirHost.c_str()).foldsCase == 1) {
        if (it != M().folded.end()) M().folded.erase(it);
        FoldingFolder().stamp = fsinfo::Stamp::Unsettled(st);
        return &FoldingFolder();
    }
    if (it != M().folded.end() && StillFresh(it->second, st, now)) {
        it->second.checkedTick = tick;
        return &it->second;
    }
    return Rebuild(dirHost, st, now);
}

// A folder this process made, its table checked in this tick: what the table lacks is missing.
bool MadeAndFresh(const std::string& dirHost) {
    auto it = M().folded.find(dirHost);
    return it != M().folded.end() && it->second.made &&
           it->second.checkedTick == CurrentTick(fsinfo::Now());
}

int OpenFolderFd(std::string_view dirHost) {
    const auto& open = M().open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (it->dirHost == dirHost) return it->fd;
    return AT_FDCWD;
}

// The mapped folder dirHost lies in, as configured or resolved: the longest that holds it.
std::string_view BaseOf(std::string_view dirHost) {
    const auto& m = M();
    std::string_view base;
    for (const std::string* b : {&m.rootHost, &m.mediumHost, &m.rootReal, &m.mediumReal})
        if (b->size() > base.size() && Within(dirHost, *b)) base = *b;
    return base;
}

// The folder rel below the open folder base, opened with flags, every step a folder and none a
// link: the host's own confined lookup where the kernel has one, else one step at a time.
int OpenBeneath(int base, const std::string& rel, int flags) {
    static bool noOpenAt2 = false;
    if (!noOpenAt2) {
        const int fd = host::OpenAt2(base, rel.c_str(), flags | O_DIRECTORY, RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG)) return fd;
        noOpenAt2 = true;
    }
    const size_t last = rel.rfind('/');
    host::Fd cur(host::Dup(base));
    for (size_t i = 0; cur.valid() && last != std::string::npos && i <= last;) {
        const size_t end = rel.find('/', i);
        const std::string step = rel.substr(i, end - i);
        i = end + 1;
        if (step == "..") return errno = EXDEV, -1;
        host::Fd next(host::OpenAt(cur.get(), step.c_str(), O_PATH | O_NOFOLLOW));
        struct stat st {};
        if (!next.valid() || host::FStat(next.get(), &st) != 0) return -1;
        if (!S_ISDIR(st.st_mode)) return errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR, -1;
        cur = std::move(next);
    }
    const std::string leaf = last == std::string::npos ? rel : rel.substr(last + 1);
    if (!cur.valid()) return -1;
    if (leaf == "..") return errno = EXDEV, -1;
    return host::OpenAt(cur.get(), leaf.c_str(), flags | O_DIRECTORY | O_NOFOLLOW);
}

}  // namespace

Result<host::Fd> OpenConfined(std::string_view dirHost, int flags) {
    auto& m = M();
    const std::string_view base = BaseOf(dirHost);
    if (base.empty()) return Error{EACCES};
    Folders::Base* b = nullptr;
    for (Folders::Base& h : m.bases)
        if (h.fd.valid() && h.host == base) b = &h;
    if (b == nullptr) {
        // The mapped folder itself is the user's setting, links and all.
        host::Fd fd(host::OpenAt(AT_FDCWD, std::string(base).c_str(), O_PATH | O_DIRECTORY));
        if (!fd.valid()) return HostError(Kind::Folder);
        b = &m.bases[m.basesNext++ % m.bases.size()];
        b->host.assign(base);
        b->fd = std::move(fd);
    }
    host::Fd fd(dirHost.size() == base.size()
                    ? host::OpenAt(b->fd.get(), ".", flags | O_DIRECTORY)
                    : OpenBeneath(b->fd.get(), std::string(dirHost.substr(base.size() + 1)), flags));
    if (!fd.valid()) return HostError(Kind::Folder);
    return fd;
}

Status Confine(HostEntry& e) {
    if (e.dirfd != AT_FDCWD || e.nameOffset == 0) return {};
    // The folder the last change was made in is kept for one clock tick: a copying walk fills
    // one folder file after file.
    Folders::Held& last = M().lastConfined;
    const int64_t tick = CurrentTick(fsinfo::Now());
    if (last.fd == nullptr || last.tick != tick || last.host != e.dir()) {
        Result<host::Fd> fd = OpenConfined(e.dir(), O_PATH);
        if (!fd) {
            // A folder on the way swapped for a link (or gone) since it was looked up.
            const Error& err = fd.error();
            return err.err == ELOOP || err.err == EXDEV ? Error{EACCES} : err;
        }
        last.host.assign(e.dir());
        last.fd = std::make_shared<host::Fd>(fd.Take());
        last.tick = tick;
    }
    e.dirHold = last.fd;
    e.dirfd = last.fd->get();
    return {};
}

namespace {

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
    const attrs::Location at = out.named();
    if (host::FStatAt(at.dirfd, at.name, &out.st, AT_SYMLINK_NOFOLLOW) != 0) return HostError();
    out.exists = true;
    out.real.clear();
    if (!S_ISLNK(out.st.st_mode)) return {};
    return FollowConfined(out.path, out.real, out.st);
}

// A failed look at a name in a folder known to exist: a folder on the way that is no folder
// (any more) means what was remembered of it is out of date.
Error LookupError(const Error& e) {
    if (e.err == ENOTDIR) return {ENOTDIR, Kind::Stale};
    return e;
}
// What failed of a folder on the way to an entry is that folder's failure.
Error OnTheWay(Error e) {
    if (e.kind == Kind::Entry) e.kind = Kind::Folder;
    return e;
}
// A folder that cannot be read where a table of it was wanted: gone or replaced, it is stale.
Error TableError(const Error& e) {
    return e.err == ENOENT || e.err == ENOTDIR ? Error{e.err, Kind::Stale} : Error{e.err, Kind::Entry};
}

// Answers a lookup from the folder's existing name table: one look at the folder instead of
// one at the name and one at the folder when the name is missing. False when there is no table.
bool LookupInTable(const std::string& dirHost, std::u16string_view name, HostEntry& out, Status& r) {
    if (M().folded.find(dirHost) == M().folded.end()) return false;
    Result<FoldedTable*> table = TableFor(dirHost);
    if (!table) {
        r = TableError(table.error());
        return true;
    }
    FoldedTable* t = *table;
    // A table given up meanwhile for the host's own case folding cannot say a name is missing.
    if (t == &FoldingFolder()) return false;
    thread_local std::u16string key;
    key.clear();
    paths::AppendFolded(name, key);
    out.dirDevKnown = true;
    out.dirDev = t->stamp.dev;
    auto hit = t->byFolded.find(key);
    if (hit == t->byFolded.end()) {
        out.presumed = true;
        r = {};
        return true;
    }
    out.path.resize(out.nameOffset);
    out.path += hit->second;
    const Status found = StatFound(out);
    out.exists = found.ok();
    r = found.ok() || found.Is(ENOENT) ? Status() : Status(LookupError(found.error()));
    return true;
}

// Looks up one name in an existing host folder: exact spelling, else one differing in case.
Status LookupChild(const std::string& dirHost, std::u16string_view name, HostEntry& out,
                   bool trustTable = false) {
    if (Status s = BeginEntry(dirHost, name, out); !s) return s;
    // Filling a folder it made itself, the process meets mostly names that are not there yet; the
    // table knows them without a look at each name.
    if (Status r; (trustTable || MadeAndFresh(dirHost)) && LookupInTable(dirHost, name, out, r))
        return r;
    Status found = StatFound(out);
    if (found) {
        out.dirDevKnown = out.real.empty();
        out.dirDev = out.st.st_dev;
        return {};
    }
    if (!found.Is(ENOENT)) return LookupError(found.error());
    Result<FoldedTable*> table = TableFor(dirHost);
    if (!table) return TableError(table.error());
    FoldedTable* t = *table;
    out.dirDevKnown = true;
    out.dirDev = t->stamp.dev;
    thread_local std::u16string key;
    key.clear();
    paths::AppendFolded(name, key);
    auto hit = t->byFolded.find(key);
    if (hit == t->byFolded.end()) return {};
    out.path.resize(out.nameOffset);
    out.path += hit->second;
    found = StatFound(out);
    if (found.Is(ENOENT)) {
        out.exists = false;
        return {};
    }
    return found ? Status() : Status(LookupError(found.error()));
}

bool IsMedium(const paths::Components& c) {
    return c.count > 0 && paths::FoldedEqual(c.items[0], M().mediumName);
}

// Resolves the first n components as a folder into dirHost.
// The folder part of devicePath as the caller spelt it, when its last component c holds is the
// plain name it ends with: that spelling then names the folder of the components before it.
bool SpeltFolder(std::u16string_view devicePath, const paths::Components& c, std::u16string_view& folder) {
    if (c.count == 0) return false;
    const std::u16string_view last = c.items[c.count - 1];
    const size_t at = static_cast<size_t>(last.data() - devicePath.data());
    if (at == 0 || at + last.size() != devicePath.size() || devicePath[at - 1] != u'\\') return false;
    folder = devicePath.substr(0, at - 1);
    return true;
}

// Resolves the folder of the last component of devicePath (components c) into dirHost.
// A folder on the way that is missing or no folder fails as a folder; a stale one, when the
// cache was used, fails as stale (the caller looks again without it).
Status ResolveDir(std::u16string_view devicePath, const paths::Components& c, bool useCache,
                  std::string& dirHost) {
    auto& m = M();
    const size_t n = c.count - 1;
    std::u16string_view spelt;
    const bool memo = SpeltFolder(devicePath, c, spelt);
    if (useCache && memo)
        for (const Folders::Spelt& s : m.recentDirs)
            if (s.valid && s.spelt == spelt) {
                dirHost = s.host;
                return {};
            }
    const auto remember = [&] {
        if (!memo) return;
        Folders::Spelt& s = m.recentDirs[m.recentNext];
        m.recentNext = (m.recentNext + 1) % m.recentDirs.size();
        s.spelt.assign(spelt);
        s.host = dirHost;
        s.valid = true;
    };
    bool medium = IsMedium(c) && n >= 1;
    dirHost = medium ? m.mediumHost : m.rootHost;
    thread_local std::u16string key;
    key.clear();
    for (size_t k = 0; k < n; ++k) paths::AppendFolded(c.items[k], key.append(u"\\"));
    if (useCache) {
        auto it = m.dirs.find(key);
        if (it != m.dirs.end()) {
            dirHost = it->second;
            remember();
            return {};
        }
    }
    HostEntry e;
    for (size_t k = medium ? 1 : 0; k < n; ++k) {
        Status r = LookupChild(dirHost, c.items[k], e);
        if (r.Is(Kind::Stale) && useCache) return r;
        if (r.Is(Kind::Stale) || r.Is(ENOENT)) return Error{ENOENT, Kind::Folder};
        if (!r) return OnTheWay(r.error());
        if (!e.exists) return Error{ENOENT, Kind::Folder};
        if (!S_ISDIR(e.st.st_mode)) return Error{ENOTDIR, Kind::Folder};
        dirHost = e.real.empty() ? e.path : e.real;
    }
    if (m.dirs.size() >= kMaxCachedDirs) m.dirs.clear();
    m.dirs.insert_or_assign(key, dirHost);
    remember();
    return {};
}

Status ResolveMappedFolder(const std::string& host, HostEntry& out) {
    out.path = host;
    out.nameOffset = 0;
    out.real.clear();
    out.dirfd = AT_FDCWD;
    out.dirHold.reset();
    out.dirDevKnown = false;
    out.presumed = false;
    out.exists = host::FStatAt(AT_FDCWD, host.c_str(), &out.st, 0) == 0;
    return out.exists ? Status() : Status(HostError(Kind::Folder));
}

Status ResolveOnce(std::u16string_view devicePath, HostEntry& out, bool useCache, bool trustTable) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    if (c.count == 0) return ResolveMappedFolder(M().rootHost, out);
    if (c.count == 1 && IsMedium(c)) return ResolveMappedFolder(M().mediumHost, out);
    // A buffer only: nothing called below resolves a path again.
    thread_local std::string dirHost;
    if (Status s = ResolveDir(devicePath, c, useCache, dirHost); !s) return s;
    Status r = LookupChild(dirHost, c.items[c.count - 1], out, trustTable);
    if (r.Is(Kind::Stale) && useCache) return r;
    // The folder holding the name vanished under the lookup.
    if (r.Is(Kind::Stale) || r.Is(ENOENT)) return Error{ENOENT, Kind::Folder};
    return r;
}

// A lookup through the resolved folders remembered, and when one of them turned out stale, a
// lookup without them. attempt(useCache) makes one.
template <class Attempt>
Status Afresh(const Attempt& attempt) {
    Status r = attempt(true);
    if (!r.Is(Kind::Stale)) return r;
    M().ForgetResolved();
    return attempt(false);
}

}  // namespace

namespace {
thread_local std::vector<std::unique_ptr<HostEntry>> t_spareEntries;
}  // namespace

LocalEntry::LocalEntry() {
    if (t_spareEntries.empty()) {
        entry_ = std::make_unique<HostEntry>();
        return;
    }
    entry_ = std::move(t_spareEntries.back());
    t_spareEntries.pop_back();
}

LocalEntry::~LocalEntry() {
    entry_->dirHold.reset();  // the folder held for this call is not kept open by a spare
    if (t_spareEntries.size() < 4) t_spareEntries.push_back(std::move(entry_));
}

namespace {

// The last path resolved answers again within the clock tick it was resolved in, while this
// process has changed nothing since: a walk asks whether a target exists, makes it writable and
// copies onto it, three lookups of one name in a row. Another process's change is seen from the
// next tick on, as everywhere.
bool Remembered(std::u16string_view devicePath, HostEntry& out) {
    const Folders::Resolved& r = M().lastResolved;
    if (!r.valid || r.generation != Known().Generation() || r.path != devicePath ||
        CurrentTick(fsinfo::Now()) != CurrentTick(r.at))
        return false;
    out = r.entry;
    out.dirfd = out.nameOffset == 0 ? AT_FDCWD : OpenFolderFd(out.dir());
    return true;
}

Status Remember(std::u16string_view devicePath, const HostEntry& e, int64_t at, Status s) {
    Folders::Resolved& r = M().lastResolved;
    r.valid = s.ok() && !e.presumed;
    if (!r.valid) return s;
    r.path.assign(devicePath);
    r.entry = e;
    r.entry.dirHold.reset();  // descriptors are the caller's; the next one opens its own
    r.entry.dirfd = AT_FDCWD;
    r.at = at;
    r.generation = Known().Generation();
    return s;
}

}  // namespace

Status Resolve(std::u16string_view devicePath, HostEntry& out) {
    if (Remembered(devicePath, out)) return {};
    const int64_t at = fsinfo::Now();
    return Remember(devicePath, out, at,
                    Afresh([&](bool useCache) { return ResolveOnce(devicePath, out, useCache, false); }));
}

Status ResolveTarget(std::u16string_view devicePath, HostEntry& out) {
    if (Remembered(devicePath, out)) return {};
    const int64_t at = fsinfo::Now();
    return Remember(devicePath, out, at,
                    Afresh([&](bool useCache) { return ResolveOnce(devicePath, out, useCache, true); }));
}

namespace {

// The exact spelling opened in its folder: the common case needs no look at the name first.
// The file the exact spelling names, opened; any failure sends the caller to the whole lookup.
bool OpenExact(std::u16string_view devicePath, HostEntry& out, host::Fd& fd, int flags, Error& failed) {
    paths::Components c;
    failed = {ENOENT};
    if (!paths::Normalize(devicePath, c) || c.count < (IsMedium(c) ? 1u : 2u)) return false;
    thread_local std::string dirHost;  // a buffer, as in ResolveOnce
    if (!ResolveDir(devicePath, c, true, dirHost) || !BeginEntry(dirHost, c.items[c.count - 1], out))
        return false;
    const attrs::Location at = out.named();
    fd.reset(host::OpenAt(at.dirfd, at.name, flags | O_NOFOLLOW));
    if (!fd.valid() || host::FStat(fd.get(), &out.st) != 0) {
        failed = HostError();
        return false;
    }
    // A link (which O_PATH opens as itself) is followed only by the whole lookup, which confines it.
    if (S_ISLNK(out.st.st_mode)) {
        fd.reset();
        failed = {ELOOP};
        return false;
    }
    out.exists = true;
    out.dirDevKnown = true;
    out.dirDev = out.st.st_dev;
    return true;
}

}  // namespace

Status OpenExisting(std::u16string_view devicePath, HostEntry& out, host::Fd& fd, int flags) {
    Error failed;
    if (OpenExact(devicePath, out, fd, flags, failed)) return {};
    // Another spelling, a link, a stale folder: the whole lookup, then the file it found.
    if (failed.err != ENOENT && failed.err != ELOOP && failed.err != ENOTDIR) return LookupError(failed);
    if (Status s = Resolve(devicePath, out); !s) return s;
    if (!out.exists) return Error{ENOENT};
    const attrs::Location at = out.where();
    fd.reset(host::OpenAt(at.dirfd, at.name, flags | O_NOFOLLOW));
    if (!fd.valid() || host::FStat(fd.get(), &out.st) != 0) return HostError();
    return {};
}

Status ResolvePattern(std::u16string_view devicePath, std::string& dirHost,
                      std::u16string_view& pattern) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    size_t slash = devicePath.rfind(u'\\');
    pattern = devicePath.substr(slash + 1);
    if (c.count == 0 || pattern.empty() || c.items[c.count - 1] != pattern) return Error{EINVAL, Kind::BadName};
    return Afresh([&](bool useCache) { return ResolveDir(devicePath, c, useCache, dirHost); });
}

Status ReadListing(const std::string& dirHost, DirListing& out, host::Fd* keep) {
    out.names.clear();
    out.entries.clear();
    Result<host::Fd> opened = OpenConfined(dirHost, O_RDONLY);
    if (!opened) return Error{opened.error().err, Kind::Folder};
    host::Fd fd = opened.Take();
    if (Status s = ReadListingOf(fd.get(), out); !s) return s;
    if (keep != nullptr) *keep = std::move(fd);
    return {};
}

Status ReadListingOf(int dirfd, DirListing& out) {
    out.names.clear();
    out.entries.clear();
    thread_local std::unique_ptr<char[]> buf(new char[64 * 1024]);
    for (;;) {
        ssize_t n = host::GetDents(dirfd, buf.get(), 64 * 1024);
        if (n < 0) return HostError(Kind::Folder);
        if (n == 0) break;
        for (ssize_t pos = 0; pos < n;) {
            auto* d = reinterpret_cast<dirent64*>(buf.get() + pos);
            pos += d->d_reclen;
            std::string_view nm(d->d_name);
            if (nm == "." || nm == "..") continue;
            out.entries.push_back({static_cast<uint32_t>(out.names.size()),
                                   static_cast<uint16_t>(nm.size()), d->d_type});
            out.names += nm;
        }
    }
    std::sort(out.entries.begin(), out.entries.end(),
              [&](const auto& a, const auto& b) { return out.name(a) < out.name(b); });
    return {};
}

Status FollowConfined(const std::string& hostPath, std::string& target, struct stat& st) {
    if (Status s = Canonical(hostPath, target); !s) return s;
    const auto& m = M();
    if (!Within(target, m.rootReal) && !Within(target, m.mediumReal)) return Error{EACCES};
    return host::FStatAt(AT_FDCWD, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? Status() : Status(HostError());
}

void NoteOpenFolder(const std::string& dirHost, int fd) { M().open.push_back({dirHost, fd}); }

void NoteClosedFolder(int fd) {
    auto& open = M().open;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (it->fd == fd) {
            open.erase(std::next(it).base());
            return;
        }
}

void NoteAdded(std::string_view dirHost, std::string_view hostName) {
    auto it = M().folded.find(dirHost);
    if (it == M().folded.end()) return;
    thread_local std::u16string dev, key;
    dev.clear();
    key.clear();
    names::HostToDevice(hostName, dev);
    paths::AppendFolded(dev, key);
    it->second.names += NameDigest(hostName);
    auto [slot, added] = it->second.byFolded.try_emplace(key, hostName);
    if (!added && slot->second != hostName) {
        ++it->second.collisions;
        if (std::string_view(hostName) < slot->second) slot->second = hostName;
    }
    it->second.ownChange = true;
}

void NoteMadeFolder(const std::string& dirHost) {
    struct stat st {};
    const int64_t now = fsinfo::Now();
    if (host::FStatAt(AT_FDCWD, dirHost.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return;
    NewTable(dirHost, st, now, true);
}

void NoteStale(std::string_view dirHost) {
    if (auto it = M().folded.find(dirHost); it != M().folded.end()) M().folded.erase(it);
}

void NoteRemoved(std::string_view dirHost, std::string_view hostName) {
    auto it = M().folded.find(dirHost);
    if (it == M().folded.end()) return;
    FoldedTable& t = it->second;
    if (t.collisions > 0) {
        M().folded.erase(it);
        return;
    }
    t.names -= NameDigest(hostName);
    thread_local std::u16string dev, key;
    dev.clear();
    key.clear();
    names::HostToDevice(hostName, dev);
    paths::AppendFolded(dev, key);
    auto slot = t.byFolded.find(key);
    if (slot != t.byFolded.end() && slot->second == hostName) t.byFolded.erase(slot);
    t.ownChange = true;
}

void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName) {
    auto& m = M();
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

}  // namespace wce::kernel::ns
