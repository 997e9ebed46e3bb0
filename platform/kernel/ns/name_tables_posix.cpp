// Folders' name tables by folded name, for lookups ignoring case, kept by Fresh and our changes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/names.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/namespace_internal.h"
#include "platform/kernel/ns/paths.h"

namespace wce::kernel::ns {
namespace {

constexpr size_t kMaxFoldedTables = 512;

// The folded device form of a host name, the key of a name table (dev: a buffer for the way).
void FoldedKey(std::string_view hostName, std::u16string& dev, std::u16string& key) {
    dev.clear();
    key.clear();
    names::HostToDevice(hostName, dev);
    paths::AppendFolded(dev, key);
}

// Records that t holds what the folder (status st) held at time now.
FoldedTable& Verified(FoldedTable& t, const std::string& dirHost, const struct stat& st,
                      int64_t now) {
    t.listed = {fsinfo::Stamp::Of(st, fsinfo::TraitsOf(st.st_dev, dirHost.c_str()), now), now};
    t.ownChange = false;
    t.comparedAt = now;
    return t;
}

// An empty table for a folder with status st, read at time now; older tables go when too many.
FoldedTable& NewTable(const std::string& dirHost, const struct stat& st, int64_t now, bool made) {
    auto& m = KnownFolders();
    if (m.folded.size() >= kMaxFoldedTables) m.folded.clear();
    FoldedTable& t = m.folded[dirHost];
    t = FoldedTable{};
    t.made = made;
    return Verified(t, dirHost, st, now);
}

// LearnCaseFolding, once per filesystem: a name with its case turned finds the same file or not.
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
        struct stat a = {}, b = {};
        const std::string base = dirHost + "/";
        if (host::Live().fstatat(AT_FDCWD, (base + name).c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        const bool found =
            host::Live().fstatat(AT_FDCWD, (base + turned).c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0;
        fsinfo::NoteFoldsCase(dev, found && a.st_ino == b.st_ino);
        return;
    }
}

Result<FoldedTable*> Rebuild(const std::string& dirHost, const struct stat& st, int64_t now) {
    DirListing listing;
    if (Status s = ReadListing(dirHost, listing); !s) return s.error();
    auto old = KnownFolders().folded.find(dirHost);
    const bool same =
        old != KnownFolders().folded.end() && old->second.listed.stamp.ino == st.st_ino;
    FoldedTable& t = NewTable(dirHost, st, now, same && old->second.made);
    LearnCaseFolding(dirHost, listing, st.st_dev);
    std::u16string dev, key;
    for (const auto& e : listing.entries) {
        FoldedKey(listing.name(e), dev, key);
        // Sorted input: the first name of a folded group is the byte-order smallest.
        if (!t.byFolded.try_emplace(key, listing.name(e)).second) ++t.collisions;
    }
    return &t;
}

// StillFresh: by Fresh, our own changes taken provisionally until the folder is due to be relisted.
bool StillFresh(FoldedTable& t, const struct stat& st) {
    const fsinfo::Traits traits = fsinfo::TraitsOf(st.st_dev, "");
    const bool same = t.listed.stamp.Unchanged(st);
    const int64_t window = t.ownChange ? fsinfo::OwnChangeCheck(traits)
                           : same      ? fsinfo::StampWindow(traits)
                                       : 0;
    if (!fsinfo::Fresh(t.listed, window, &st)) return false;
    if (!same) t.listed.stamp = fsinfo::Stamp::Unsettled(st);
    t.ownChange = false;
    return true;
}

}  // namespace

// TableFor compares stamps once per tick, not per name a walk looks up; unreadable fails as Folder.
Result<FoldedTable*> TableFor(const std::string& dirHost) {
    const int64_t now = fsinfo::Now();
    auto it = KnownFolders().folded.find(dirHost);
    if (it != KnownFolders().folded.end() &&
        fsinfo::Fresh({{}, it->second.comparedAt}, fsinfo::Tick()))
        return &it->second;
    struct stat st {};
    if (host::Live().fstatat(AT_FDCWD, dirHost.c_str(), &st, 0) != 0)
        return HostError(Kind::Folder);
    if (!S_ISDIR(st.st_mode)) return Error{ENOTDIR, Kind::Folder};
    // Where the host ignores case itself, its answer covers every spelling: no table is needed.
    if (fsinfo::TraitsOf(st.st_dev, dirHost.c_str()).foldsCase == 1) {
        if (it != KnownFolders().folded.end()) KnownFolders().folded.erase(it);
        KnownFolders().foldingFolder.listed.stamp = fsinfo::Stamp::Unsettled(st);
        return &KnownFolders().foldingFolder;
    }
    if (it != KnownFolders().folded.end() && StillFresh(it->second, st)) {
        it->second.comparedAt = now;
        return &it->second;
    }
    return Rebuild(dirHost, st, now);
}

bool MadeAndFresh(const std::string& dirHost) {
    auto it = KnownFolders().folded.find(dirHost);
    return it != KnownFolders().folded.end() && it->second.made &&
           fsinfo::Fresh({{}, it->second.comparedAt}, fsinfo::Tick());
}

void NoteAdded(std::string_view dirHost, std::string_view hostName) {
    auto it = KnownFolders().folded.find(dirHost);
    if (it == KnownFolders().folded.end()) return;
    std::u16string dev, key;
    FoldedKey(hostName, dev, key);
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
    if (host::Live().fstatat(AT_FDCWD, dirHost.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode))
        return;
    NewTable(dirHost, st, now, true);
}

void NoteStale(std::string_view dirHost) {
    if (auto it = KnownFolders().folded.find(dirHost); it != KnownFolders().folded.end())
        KnownFolders().folded.erase(it);
}

void NoteRemoved(std::string_view dirHost, std::string_view hostName) {
    auto it = KnownFolders().folded.find(dirHost);
    if (it == KnownFolders().folded.end()) return;
    FoldedTable& t = it->second;
    if (t.collisions > 0) {
        KnownFolders().folded.erase(it);
        return;
    }
    std::u16string dev, key;
    FoldedKey(hostName, dev, key);
    auto slot = t.byFolded.find(key);
    if (slot != t.byFolded.end() && slot->second == hostName) t.byFolded.erase(slot);
    t.ownChange = true;
}

}  // namespace wce::kernel::ns
