// The device namespace: every device path is resolved by one walk from the mapped folder's
// descriptor, case-blind through each folder's name table, to a folder node and a leaf name.
// Everything done to an entry is done relative to its node's descriptor: no host path is looked
// up twice, and a folder swapped for a link on the way is never followed.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::ns {

// A host folder as the walk reached it: the only cache of the namespace. What it holds is good
// while Valid(); past that the walk compares it with the host once (Recheck) and relists its
// table only when its stamps moved (FAT: two-second times; others' changes in the window too).
struct Node {
    host::Fd fd;               // O_PATH, opened from up's descriptor without following links
    std::shared_ptr<Node> up;  // the folder holding it; none for the mapped folders
    std::string name;          // its spelling in up
    std::string host;          // its host path, for messages and nothing else
    std::u16string key;        // its folded device path where the walk keeps it
    bool keyed = false;
    struct stat st {};                // as last compared with the host
    int64_t checked = INT64_MIN / 2;  // when it was last compared
    // The name table: host names by their folded device form.
    bool listed = false;
    bool made = false;       // this process made the folder: what its table lacks is missing
    bool ownChange = false;  // this process changed it since it was listed
    bool lookFirst = false;  // compared again: the next name is looked up, not taken from the table
    int collisions = 0;      // names that fold alike; removing one then needs a relisting
    fsinfo::Stamp listedStamp{};
    int64_t listedAt = INT64_MIN / 2;
    std::unordered_map<std::u16string, std::string> byFolded;
    // What is known of its entries: its status, good within a tick of when it was looked at
    // (seen); the attribute word, good within a tick of when it was read (at), or while the
    // entry's stamps stay as they were, settled, on a fine-stamped filesystem.
    struct Known {
        struct stat st {};
        int64_t seen = INT64_MIN / 2;
        fsinfo::Stamp stamp{};
        int64_t at = INT64_MIN / 2;
        DWORD word = 0;
        bool worded = false;
    };
    std::unordered_map<std::string, Known> entries;

    // Trusted as it is: compared with the host within the last clock tick.
    bool Valid() const;
};
using NodeRef = std::shared_ptr<Node>;

// An entry named in a folder node: what every host call on it is relative to.
struct Location {
    int dirfd = AT_FDCWD;
    const char* name = ".";
    Node* node = nullptr;  // the folder, for what is learnt there; null: nothing is
};

struct Entry {
    NodeRef dir;         // the folder holding it (the mapped folder itself where leaf is empty)
    std::string leaf;    // its spelling there: an existing name as the host spells it
    std::u16string key;  // its folded device name, where a walk named it: its table's key
    bool exists = false;
    bool presumed = false;  // missing by the folder's name table, not looked up
    struct stat st {};      // when exists: a link's target, for links inside the mapped folders
    NodeRef linkDir;        // for a link: its target's folder and name
    std::string linkLeaf;

    bool IsLink() const { return linkDir != nullptr; }
    bool IsMapped() const { return leaf.empty(); }
    // The name itself (a link, not its target): what a change of names acts on.
    Location named() const;
    // What reads, opens and attribute changes act on: a link's target, else the name.
    Location where() const;
    // The host path, for messages and what the user is told.
    std::string HostPath() const;
};

// How Resolve treats the last component.
enum class Want {
    Any,       // it may be missing (exists = false)
    Existing,  // it must name an entry: ENOENT otherwise
    // As Existing, for what is only read (an attribute word, a copy's source): the entry's status
    // the folder node took within the tick stands; whatever is changed is looked at afresh.
    Known,
    // As Any, a listed table's miss trusted (presumed), for exclusive creators that relook when
    // taken; an unlisted table is listed only once the exact name missed.
    Target,
};
// Resolve fails as BadName (unspellable, too long), Folder (one on the way missing or not a
// folder) or EACCES (a link out of the mapping).
Status Resolve(std::u16string_view devicePath, Entry& out, Want want = Want::Any);
// ResolveFolder: the folder node devicePath names (out), each node on the way compared with the
// host (it is about to be listed); fails as Resolve, ENOTDIR for no folder.
Status ResolveFolder(std::u16string_view devicePath, NodeRef& out);

// OpenResolved opens what e was looked up as (where()), no link followed; e.st then comes from
// the descriptor (it may have changed since the look).
Status OpenResolved(Entry& e, host::Fd& fd, int flags);

// OpenRegular: the regular file at devicePath (known: as Want::Known), opened as looked up
// without following a link and without waiting (no device or pipe is read); e.st then comes from
// the descriptor. ELOOP for a link that cannot be followed, EACCES for what is no regular file.
Status OpenRegular(std::u16string_view devicePath, Entry& e, host::Fd& fd, bool known = false);

// OpenChecked opens name in dirfd only while it is the entry seen (want): O_PATH, no follow, then,
// once dev, inode and type match, via /proc/self/fd: no swapped-in link or file is used. ESTALE
// where the name holds another entry now, EACCES where it holds no regular file or folder.
Status OpenChecked(const Location& at, const struct stat& want, int flags, host::Fd& fd);

// RootUnchanged: the device folder's path still leads to the folder first opened there (ESTALE).
Status RootUnchanged();

// Names of one host folder, as bytes, sorted in byte order; "." and ".." left out.
struct DirListing {
    struct Entry {
        uint32_t offset;
        uint16_t length;
        unsigned char type;  // d_type
    };
    std::string names;
    std::vector<Entry> entries;
    std::string_view name(const Entry& e) const { return {names.data() + e.offset, e.length}; }
};
// Lists the folder open (or O_PATH) as dirfd, through a descriptor of its own; failures are the
// folder's.
Status ReadListing(int dirfd, DirListing& out);

// Looks up name in the folder node as a listing found it: a link followed inside the mapping.
Status Describe(const NodeRef& dir, std::string_view name, Entry& out);

// Every name change in device folders (entries from Resolve) goes through these, so the folder
// nodes stay true; EEXIST means taken, the folder relisted.

// MakeFolder makes the folder e names; it starts with an empty name table of its own.
Status MakeFolder(const Entry& e);
// NameUnnamed links fd under e's name by its descriptor where allowed, else through /proc.
Status NameUnnamed(int fd, const Entry& e);
// Rename exclusive: RENAME_NOREPLACE, a link, or O_EXCL and rename (a kill leaves empty, not torn).
Status Rename(const std::string& temp, const Entry& e, bool exclusive, dev_t dev);

// Called by ConfigureDevice, which then has everything learnt under the old mapping forgotten.
void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName);

}  // namespace wce::kernel::ns
