// The walk: from the mapped folder's node, one folder node per component, each opened from its
// parent's descriptor without following links; names exact, else by the folder's name table.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/mapping.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/paths.h"

namespace wce::kernel::ns {

Mapping& g_mapping = *new Mapping;

namespace {

// Each node kept holds a descriptor: well under the 1,024 a process may usually open, however
// many folders a package has (past it the walk opens afresh what it needs).
constexpr size_t kMaxNodes = 256;
constexpr int kMaxLinks = 40;
constexpr int64_t kUpWindow = 50'000'000;

// Folder nodes by their folded device path ("" the device root); links' targets are not kept.
struct Nodes {
    std::unordered_map<std::u16string, NodeRef> byPath;
    NodeRef root, medium;
};
Nodes& g_nodes = NewPart<Nodes>();

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A mapped folder, opened as the user named it (links and all): the walk never leaves it.
Status Base(bool medium, NodeRef& out) {
    NodeRef& base = medium ? g_nodes.medium : g_nodes.root;
    if (base == nullptr) {
        const std::string& host = medium ? g_mapping.mediumHost : g_mapping.rootHost;
        auto n = std::make_shared<Node>();
        n->fd.reset(host::OpenAt(AT_FDCWD, host.c_str(), O_PATH | O_DIRECTORY));
        if (!n->fd.valid() || host::FStat(n->fd.get(), &n->st) != 0)
            return HostError(n->fd.valid() ? "fstat" : "openat", Kind::Folder);
        n->host = host;
        n->checked = fsinfo::Now();
        n->keyed = true;
        if (medium) paths::AppendFolded(g_mapping.mediumName, n->key.assign(u"\\"));
        base = std::move(n);
    }
    out = base;
    return {};
}

// Opens name in up as a folder node (out); ENOTDIR where it is no folder, ELOOP where a link.
Status OpenNode(const NodeRef& up, std::string_view name, NodeRef& out) {
    auto n = std::make_shared<Node>();
    n->name.assign(name);
    n->fd.reset(host::OpenAt(up->fd.get(), n->name.c_str(), O_PATH | O_NOFOLLOW));
    if (!n->fd.valid() || host::FStat(n->fd.get(), &n->st) != 0)
        return HostError(n->fd.valid() ? "fstat" : "openat", Kind::Folder);
    if (!S_ISDIR(n->st.st_mode))
        return Error{S_ISLNK(n->st.st_mode) ? ELOOP : ENOTDIR, Kind::Folder};
    n->up = up;
    n->host = up->host + "/" + n->name;
    n->checked = fsinfo::Now();
    out = std::move(n);
    return {};
}

// Recheck: once a tick, the node is compared with what its name holds now; a folder whose stamps
// moved beyond what the table took in (fsinfo::Fresh) is listed afresh when next asked.
// A folder further up is compared at most every kUpWindow: on FUSE each comparison can be a round
// trip to the driver, and the folder that holds the entry is compared every tick anyway.
bool Recheck(Node& n, bool always = false, bool up = false) {
    if (!always && (n.Valid() || (up && fsinfo::Now() - n.checked < kUpWindow))) return true;
    // The folder's identity is all that is needed unless its table is judged by its stamps: on
    // FUSE a synced status is a round trip to the driver each time the folder changed.
    const int sync = n.listed && !n.ownChange ? 0 : AT_STATX_DONT_SYNC;
    struct stat now {};
    int r = n.up == nullptr ? host::FStat(n.fd.get(), &now)
                            : host::Live().fstatat(n.up->fd.get(), n.name.c_str(), &now,
                                                   AT_SYMLINK_NOFOLLOW | sync);
    // A kernel that takes no sync flags here answers EINVAL: asked again without.
    if (r != 0 && n.up != nullptr && sync != 0 && HostError("fstatat").err == EINVAL)
        r = host::Live().fstatat(n.up->fd.get(), n.name.c_str(), &now, AT_SYMLINK_NOFOLLOW);
    if (r != 0 || !SameEntry(now, n.st) || !S_ISDIR(now.st_mode)) return false;
    n.st = now;
    n.checked = fsinfo::Now();
    n.lookFirst = true;
    if (!n.listed) return true;
    const fsinfo::Traits t = fsinfo::TraitsOf(now.st_dev, n.fd.get(), "");
    // While this process changes the folder its stamps say nothing (and were not synced): the
    // table is relisted by time alone.
    const bool same = !n.ownChange && n.listedStamp.Unchanged(now);
    const int64_t window = n.ownChange ? fsinfo::OwnChangeCheck(t)
                           : same      ? fsinfo::StampWindow(t)
                                       : 0;
    if (!fsinfo::Fresh({n.listedStamp, n.listedAt}, window, n.ownChange ? nullptr : &now)) {
        n.listed = false;
        n.entries.clear();
        return true;
    }
    if (!same) n.listedStamp = fsinfo::Stamp::Of(now);
    n.ownChange = false;
    return true;
}

// The folded device form of a host name, the key of a name table.
void FoldedKey(std::string_view hostName, std::u16string& key) {
    std::u16string dev;
    paths::HostToDevice(hostName, dev);
    key.clear();
    paths::AppendFolded(dev, key);
}

// LearnCaseFolding, once per filesystem: a name with its case turned finds the same file or not.
void LearnCaseFolding(Node& n, const DirListing& listing) {
    for (const auto& e : listing.entries) {
        const std::string name(listing.name(e));
        std::string turned = name;
        for (char& c : turned) {
            const int u = static_cast<unsigned char>(c);
            c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
        }
        if (turned == name) continue;
        struct stat a = {}, b = {};
        if (host::Live().fstatat(n.fd.get(), name.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0) return;
        const bool found =
            host::Live().fstatat(n.fd.get(), turned.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0;
        fsinfo::NoteFoldsCase(n.st.st_dev, found && SameEntry(a, b));
        return;
    }
}

// Lists the node's folder into its table; fails as the folder.
Status List(Node& n) {
    // Stamps read in sync before the names: a change meanwhile shows as one later.
    if (host::FStat(n.fd.get(), &n.st) != 0) return HostError("fstat", Kind::Folder);
    DirListing listing;
    if (Status s = ReadListing(n.fd.get(), listing); !s) return s;
    const int64_t now = fsinfo::Now();
    n.byFolded.clear();
    n.collisions = 0;
    n.listed = true;
    n.ownChange = false;
    const fsinfo::Traits t = fsinfo::TraitsOf(n.st.st_dev, n.fd.get(), "");
    n.listedStamp = fsinfo::Stamp::Of(n.st, &t, now);
    n.listedAt = now;
    if (t.foldsCase == -1) LearnCaseFolding(n, listing);
    std::u16string key;
    for (const auto& e : listing.entries) {
        FoldedKey(listing.name(e), key);
        // Sorted input: the first name of a folded group is the byte-order smallest.
        if (!n.byFolded.try_emplace(key, listing.name(e)).second) ++n.collisions;
    }
    return {};
}

// Where the host ignores case itself, its answer covers every spelling: no table is needed.
bool HostFolds(const Node& n) {
    fsinfo::Traits t;
    return fsinfo::KnownTraits(n.st.st_dev, t) && t.foldsCase == 1;
}

// The host's spelling in n of the device name folded as key, by its table (out); empty where none
// is listed.
Status Spelled(Node& n, const std::u16string& key, std::string& out) {
    if (!n.listed)
        if (Status s = List(n); !s) return s;
    auto hit = n.byFolded.find(key);
    out = hit == n.byFolded.end() ? std::string() : hit->second;
    return {};
}

Status Follow(const NodeRef& dir, const std::string& name, Entry& out, int depth);

// Looks at name in dir (the host's spelling): sets st, and a link's target inside the mapping.
// known: within a tick of the last look the node's answer stands (a walk reads of one entry
// several times in a row: listed, its attributes, copied from); else looked at afresh.
Status Look(const NodeRef& dir, const std::string& name, Entry& out, int depth = 0,
            bool known = false) {
    out.dir = dir;
    out.leaf = name;
    out.linkDir.reset();
    out.linkLeaf.clear();
    const int64_t now = fsinfo::Now();
    auto seen = dir->entries.find(name);
    if (known && seen != dir->entries.end() && now - seen->second.seen < fsinfo::Tick()) {
        out.st = seen->second.st;
        out.exists = true;
        return {};
    }
    if (host::Live().fstatat(dir->fd.get(), name.c_str(), &out.st, AT_SYMLINK_NOFOLLOW) != 0)
        return HostError("fstatat");
    out.exists = true;
    if (!S_ISLNK(out.st.st_mode)) {
        Node::Known& k = seen != dir->entries.end() ? seen->second : dir->entries[name];
        k.st = out.st;
        k.seen = now;
        return {};
    }
    Entry target;
    // A link that leads nowhere (dangling, or through a missing folder) cannot be followed.
    if (Status s = Follow(dir, name, target, depth); !s) return s.Is(ENOENT) ? Error{ELOOP} : s;
    out.st = target.st;
    out.linkDir = target.dir;
    out.linkLeaf = target.leaf;
    return {};
}

// Steps from n to a host component of a link's target (out): "..", a folder, or a link to one.
Status Step(const NodeRef& n, std::string_view comp, int depth, NodeRef& out) {
    if (comp == "..") {
        if (n->up == nullptr) return Error{EACCES};  // above a mapped folder
        out = n->up;
        return {};
    }
    if (Status s = OpenNode(n, comp, out); s || !s.Is(ELOOP)) return s;
    Entry link;
    if (Status s = Look(n, std::string(comp), link, depth + 1); !s) return s;
    if (!S_ISDIR(link.st.st_mode)) return Error{ENOTDIR, Kind::Folder};
    if (!link.linkLeaf.empty()) return OpenNode(link.linkDir, link.linkLeaf, out);
    out = link.linkDir;
    return {};
}

bool Within(std::string_view path, std::string_view base) {
    if (base.empty()) return false;
    if (base == "/") return true;
    return path.substr(0, base.size()) == base &&
           (path.size() == base.size() || path[base.size()] == '/');
}

// Follow: the link name in dir, resolved inside the mapped folders only (EACCES leading out), to
// the folder node and leaf of what it names (leaf empty: a mapped folder itself).
Status Follow(const NodeRef& dir, const std::string& name, Entry& out, int depth) {
    if (depth > kMaxLinks) return Error{ELOOP};
    char buf[PATH_MAX];
    const ssize_t len = host::Live().readlinkat(dir->fd.get(), name.c_str(), buf, sizeof buf);
    if (len < 0) return HostError("readlinkat");
    std::string_view target(buf, static_cast<size_t>(len));
    NodeRef at = dir;
    if (!target.empty() && target[0] == '/') {
        const Mapping& m = g_mapping;
        const std::string* bases[] = {&m.rootReal, &m.mediumReal, &m.rootHost, &m.mediumHost};
        size_t best = 4;  // the longest that holds it: the medium may lie in the root
        for (size_t k = 0; k < 4; ++k)
            if (Within(target, *bases[k]) && (best == 4 || bases[k]->size() > bases[best]->size()))
                best = k;
        if (best == 4) return Error{EACCES};
        if (Status s = Base(best % 2 == 1, at); !s) return s;
        // The base and the slash after it; a base "/" is that slash.
        const size_t cut = *bases[best] == "/" ? 1 : bases[best]->size() + 1;
        target.remove_prefix(std::min(target.size(), cut));
    }
    std::vector<std::string_view> comps;
    for (size_t i = 0; i <= target.size();) {
        const size_t end = std::min(target.find('/', i), target.size());
        if (end > i && target.substr(i, end - i) != ".") comps.push_back(target.substr(i, end - i));
        i = end + 1;
    }
    // A last ".." names a folder: it is stepped to, and the entry is that folder itself.
    while (!comps.empty() && comps.back() == "..") comps.push_back(".");
    for (size_t k = 0; k + 1 < comps.size(); ++k) {
        NodeRef next;
        if (Status s = Step(at, comps[k], depth, next); !s) return s;
        at = std::move(next);
    }
    if (comps.empty() || comps.back() == ".") {
        out.dir = at->up != nullptr ? at->up : at;
        out.leaf = at->up != nullptr ? at->name : std::string();
        out.exists = true;
        return HostStatus(host::FStat(at->fd.get(), &out.st), "fstat");
    }
    return Look(at, std::string(comps.back()), out, depth + 1);
}

// The child folder node of dir named name (device spelling) into out, kept under key while Valid.
Status Child(const NodeRef& dir, const std::u16string& key, std::u16string_view name, bool recheck,
             bool up, NodeRef& out) {
    auto& nodes = g_nodes.byPath;
    if (auto it = nodes.find(key); it != nodes.end()) {
        if (it->second->up == dir && Recheck(*it->second, recheck, up)) {
            out = it->second;
            return {};
        }
        nodes.erase(it);
    }
    std::string host;
    if (Status s = paths::DeviceToHost(name, host); !s) return s;
    Entry e;
    Status s = Look(dir, host, e, 0, true);
    if (s.Is(ENOENT) && !HostFolds(*dir)) {
        Recheck(*dir);  // its table answers now: judged as the folder holding an entry is
        std::string spelled;
        const Status listed = Spelled(*dir, key.substr(key.rfind(u'\\') + 1), spelled);
        if (!listed) return listed;
        if (!spelled.empty()) s = Look(dir, spelled, e);
    }
    if (!s) return Error{s.error().err, Kind::Folder};
    if (!S_ISDIR(e.st.st_mode)) return Error{ENOTDIR, Kind::Folder};
    Status opened;
    if (!e.IsLink())
        opened = OpenNode(dir, e.leaf, out);
    else if (!e.linkLeaf.empty())
        opened = OpenNode(e.linkDir, e.linkLeaf, out);
    else
        out = e.linkDir;
    if (!opened || e.IsLink()) return opened;  // a link's target is walked afresh each time
    if (nodes.size() >= kMaxNodes) nodes.clear();
    out->key = key;
    out->keyed = true;
    nodes.emplace(key, out);
    return {};
}

bool IsMedium(const paths::Components& c) {
    return c.count > 0 && paths::FoldedEqual(c.items[0], g_mapping.mediumName);
}

// Walks to the folder holding the last of n components (all of them where whole); recheck: each
// node kept is compared with the host even within its tick.
Status WalkFolders(const paths::Components& c, size_t n, NodeRef& at, bool recheck = false) {
    const bool medium = IsMedium(c) && n >= 1;
    if (Status s = Base(medium, at); !s) return s;
    const size_t first = medium ? 1 : 0;
    Recheck(*at, false, n > first);  // its table is judged as any folder's
    std::u16string key;
    for (size_t k = 0; k < n; ++k) {
        paths::AppendFolded(c.items[k], key.append(u"\\"));
        if (k == 0 && medium) continue;
        if (Status s = Child(NodeRef(at), key, c.items[k], recheck, k + 1 < n, at); !s) return s;
    }
    return {};
}

// The entry name in dir, exact, else as its table spells it; a miss from a listed table trusted as
// it stands (made by this process and fresh, or asked to) is presumed, not looked up. An unlisted
// table is listed only once the exact name missed: a reinstall finds every name as it is spelled.
Status Leaf(const NodeRef& dir, std::u16string_view name, Entry& out, bool trustTable, bool known) {
    out.dir = dir;
    out.leaf.clear();
    out.key.clear();
    out.exists = out.presumed = false;
    out.st = {};
    out.linkDir.reset();
    out.linkLeaf.clear();
    if (Status s = paths::DeviceToHost(name, out.leaf); !s) return s;
    if (out.leaf.size() > NAME_MAX) return Error{ENAMETOOLONG, Kind::BadName};
    paths::AppendFolded(name, out.key);
    const bool folds = HostFolds(*dir);
    // A folder made here is trusted within the tick after a name was looked at for real: what
    // another process adds is then seen from the next tick on.
    const bool lookFirst = std::exchange(dir->lookFirst, false);
    std::string spelled;
    if (!folds && dir->listed && (trustTable || (dir->made && !lookFirst))) {
        if (Status s = Spelled(*dir, out.key, spelled); !s) return s;
        if (spelled.empty()) {
            out.presumed = true;
            return {};
        }
        out.leaf = spelled;
    }
    Status s = Look(dir, out.leaf, out, 0, known);
    if (!s.Is(ENOENT)) return s;
    out.exists = false;
    if (folds) return {};
    if (s = Spelled(*dir, out.key, spelled); !s) return s;
    if (spelled.empty() || spelled == out.leaf) return {};
    s = Look(dir, spelled, out, 0, known);
    if (s.Is(ENOENT)) out.exists = false;
    return s.Is(ENOENT) ? Status() : s;
}

}  // namespace

bool Node::Valid() const {
    return fsinfo::Now() - checked < fsinfo::Tick();
}

Location Entry::named() const {
    return {dir->fd.get(), leaf.empty() ? "." : leaf.c_str(), dir.get()};
}

Location Entry::where() const {
    if (!IsLink()) return named();
    return {linkDir->fd.get(), linkLeaf.empty() ? "." : linkLeaf.c_str(), linkDir.get()};
}

std::string Entry::HostPath() const {
    const NodeRef& d = IsLink() ? linkDir : dir;
    const std::string& l = IsLink() ? linkLeaf : leaf;
    return l.empty() ? d->host : d->host + "/" + l;
}

// The walk to devicePath's entry; where its folder vanished under the look (a node kept past its
// time), once more with every node looked up afresh.
Status Resolve(std::u16string_view devicePath, Entry& out, Want want) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    if (c.count == 0 || (c.count == 1 && IsMedium(c))) {
        out = Entry{};
        if (Status s = Base(c.count == 1, out.dir); !s) return s;
        out.exists = true;
        return HostStatus(host::FStat(out.dir->fd.get(), &out.st), "fstat");
    }
    for (int attempt = 0;; ++attempt) {
        NodeRef dir;
        if (Status s = WalkFolders(c, c.count - 1, dir); !s)
            return s.Is(ENOENT) ? Error{ENOENT, Kind::Folder} : s;
        const Status s =
            Leaf(dir, c.items[c.count - 1], out, want == Want::Target, want == Want::Known);
        if (s && !out.exists && (want == Want::Existing || want == Want::Known))
            return Error{ENOENT};
        if (!s.Is(ENOENT) && !s.Is(ENOTDIR)) return s;
        if (attempt > 0) return Error{ENOENT, Kind::Folder};
        g_nodes.byPath.clear();
    }
}

Status ResolveFolder(std::u16string_view devicePath, NodeRef& out) {
    paths::Components c;
    if (Status s = paths::Normalize(devicePath, c); !s) return s;
    // Listed at once: a folder replaced even within the tick is not the one listed.
    return WalkFolders(c, c.count, out, true);
}

Status OpenResolved(Entry& e, host::Fd& fd, int flags) {
    const Location at = e.where();
    fd.reset(host::OpenAt(at.dirfd, at.name, flags | O_NOFOLLOW));
    return HostStatus(fd.valid() ? host::FStat(fd.get(), &e.st) : -1,
                      fd.valid() ? "fstat" : "openat");
}

Status OpenRegular(std::u16string_view devicePath, Entry& e, host::Fd& fd, bool known) {
    Status s = Resolve(devicePath, e, known ? Want::Known : Want::Existing);
    if (!s && S_ISLNK(e.st.st_mode)) return Error{ELOOP};
    if (s && !S_ISREG(e.st.st_mode)) s = Error{EACCES};
    if (s) s = OpenResolved(e, fd, O_RDONLY | O_NONBLOCK);
    // It may have been replaced since the look: its descriptor says what was opened.
    return s && !S_ISREG(e.st.st_mode) ? Status(Error{EACCES}) : s;
}

Status Describe(const NodeRef& dir, std::string_view name, Entry& out) {
    out = Entry{};
    return Look(dir, std::string(name), out);
}

void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName) {
    Mapping& m = g_mapping;
    auto trim = [](std::string s) {
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    };
    // Taken with the user's settings, before the device is: not through the host call table.
    auto real = [](const std::string& path) {
        char buf[PATH_MAX];
        return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
    };
    m.rootHost = trim(hostRoot);
    m.mediumHost = trim(hostMedium);
    m.mediumName = mediumName;
    m.rootReal = real(m.rootHost);
    m.mediumReal = real(m.mediumHost);
}

// Every name change in device folders (entries from Resolve) goes through here, so the folder
// nodes stay true; EEXIST means taken, the folder relisted. Copy temporaries are never looked up.
namespace {

// The folded device name of e's leaf, its table's key: as the walk named it, else from its host
// name (an entry described from a listing).
std::u16string FoldedLeaf(const Entry& e) {
    std::u16string key(e.key);
    if (key.empty()) FoldedKey(e.leaf, key);
    return key;
}

// The new folder's node starts with an empty table of its own, trusted.
void NoteMadeFolder(const Entry& e) {
    const NodeRef& dir = e.dir;
    NodeRef n;
    if (!OpenNode(dir, e.leaf, n)) return;
    n->made = n->listed = true;
    n->listedStamp = fsinfo::Stamp::Of(n->st);
    n->listedAt = fsinfo::Now();
    // Kept under its device path when its folder is: the walk finds it there.
    if (!dir->keyed) return;
    n->keyed = true;
    n->key.assign(dir->key).append(u"\\").append(FoldedLeaf(e));
    g_nodes.byPath.insert_or_assign(n->key, n);
}

// TellTables: a name made joins its folder's table (under the entry's key where the walk named
// it); one found taken, which the table missed, has the folder listed afresh.
Status TellTables(Status s, const Entry& e) {
    Node& dir = *e.dir;
    if (s.Is(EEXIST)) {
        dir.listed = false;
        dir.entries.clear();
    }
    if (!s) return s;
    dir.ownChange = true;
    dir.entries.erase(e.leaf);
    if (!dir.listed) return s;
    auto [slot, added] = dir.byFolded.try_emplace(FoldedLeaf(e), e.leaf);
    if (!added && slot->second != e.leaf) {
        ++dir.collisions;
        if (e.leaf < slot->second) slot->second = e.leaf;
    }
    return s;
}

// temp: a name in the folder of to.
Status RenameExclusive(const std::string& temp, const Location& to, dev_t dev) {
    if (!fsinfo::Refused(dev, fsinfo::Feature::RenameNoReplace)) {
        if (host::Live().renameat2(to.dirfd, temp.c_str(), to.dirfd, to.name, RENAME_NOREPLACE) ==
            0)
            return {};
        const Error e = HostError("renameat2");
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::RenameNoReplace, e.err)) return e;
    }
    if (!fsinfo::Refused(dev, fsinfo::Feature::HardLink)) {
        if (host::Live().linkat(to.dirfd, temp.c_str(), to.dirfd, to.name, 0) == 0) {
            host::Live().unlinkat(to.dirfd, temp.c_str(), 0);
            return {};
        }
        const Error e = HostError("linkat");
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::HardLink, e.err)) return e;
    }
    host::Fd claim(host::OpenAt(to.dirfd, to.name, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!claim.valid()) return HostError("openat");
    claim.reset();
    if (host::Live().renameat2(to.dirfd, temp.c_str(), to.dirfd, to.name, 0) == 0) return {};
    const Error failed = HostError("renameat2");
    host::Live().unlinkat(to.dirfd, to.name, 0);
    return failed;
}

}  // namespace

Status MakeFolder(const Entry& e) {
    const Location at = e.named();
    // ENOENT: the folder to hold it vanished meanwhile.
    Status made;
    if (host::Live().mkdirat(at.dirfd, at.name, 0777) != 0) {
        const Error failed = HostError("mkdirat");
        made = Error{failed.err, failed.err == ENOENT ? Kind::Folder : Kind::Entry};
    }
    if (TellTables(made, e)) NoteMadeFolder(e);
    return made;
}

Status NameUnnamed(int fd, const Entry& e) {
    const Location at = e.named();
    Status s;
    if (host::Live().linkat(fd, "", at.dirfd, at.name, AT_EMPTY_PATH) != 0) {
        s = HostError("linkat");
        // Linking by descriptor takes a privilege (ENOENT without it): by /proc it takes none.
        if (s.Is(ENOENT) || s.Is(EPERM)) {
            char proc[32];
            std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
            s = HostStatus(
                host::Live().linkat(AT_FDCWD, proc, at.dirfd, at.name, AT_SYMLINK_FOLLOW),
                "linkat");
            // Without /proc the link by path cannot be made either.
            if (s.Is(ENOENT)) s = Error{EOPNOTSUPP};
        }
    }
    return TellTables(s, e);
}

Status Rename(const std::string& temp, const Entry& e, bool exclusive, dev_t dev) {
    const Location at = e.named();
    if (exclusive) return TellTables(RenameExclusive(temp, at, dev), e);
    return TellTables(
        HostStatus(host::Live().renameat2(at.dirfd, temp.c_str(), at.dirfd, at.name, 0),
                   "renameat2"),
        e);
}

}  // namespace wce::kernel::ns
