// Resolve maps device paths to host entries: the first component picks hostMedium or hostRoot, the
// rest match exactly, else by case (name_tables_posix.cpp); links stay in the mapped folders.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::ns {

// Location: an entry relative to an open folder, so a walk skips whole-path lookups; dir otherwise.
struct Location {
    int dirfd = AT_FDCWD;
    const char* name = "";  // a full host path when dirfd is AT_FDCWD
    std::string_view dir;
    std::string Full() const {
        return dirfd == AT_FDCWD ? std::string(name) : std::string(dir).append("/").append(name);
    }
};

struct HostEntry {
    std::string path;       // host path (existing names as they are spelt on the host)
    size_t nameOffset = 0;  // where the last component starts in path
    bool exists = false;    // false: path names where the entry would be created
    bool presumed = false;  // exists == false taken from the folder's name table, not looked up
    struct stat st {};      // valid when exists (a link's target, for links inside the folders)
    std::string real;       // for a link: its resolved target inside the mapped folders
    // dirfd: the enumeration's open folder, so reads and changes meet the folder it lists if moved.
    int dirfd = AT_FDCWD;
    std::shared_ptr<const host::Fd> dirHold;  // keeps dirfd open when the entry holds it
    bool dirDevKnown = false;                 // dirDev holds the device of the folder part of path
    dev_t dirDev = 0;
    // The name itself (a link, not its target): what a change of names acts on.
    Location named() const {
        if (dirfd == AT_FDCWD || nameOffset == 0) return {AT_FDCWD, path.c_str(), {}};
        return {dirfd, path.c_str() + nameOffset, dir()};
    }
    // The file that reads, opens and attribute changes act on: a link's target, else the name.
    Location where() const { return real.empty() ? named() : Location{AT_FDCWD, real.c_str(), {}}; }
    // The same file's host path, for what outlives the call (an open handle).
    const std::string& target() const { return real.empty() ? path : real; }
    std::string_view dir() const {
        return std::string_view(path).substr(0, nameOffset ? nameOffset - 1 : 0);
    }
    std::string_view name() const { return std::string_view(path).substr(nameOffset); }
};

// OpenConfined opens dirHost without following links below the mapped folder, so work stays there;
// ELOOP or EXDEV where a folder on the way became a link, fails as Folder where one is gone.
Result<host::Fd> OpenConfined(std::string_view dirHost, int flags);
// Confine names e relative to its folder opened as OpenConfined (unless held); EACCES: now a link.
Status Confine(HostEntry& e);
// RootUnchanged: the device folder's path still leads to the folder first opened there (ESTALE).
Status RootUnchanged();

// OpenChecked opens name in dirfd only while it is the entry seen (want): O_PATH, no follow, then,
// once dev, inode and type match, via /proc/self/fd: no swapped-in link or file is used. ESTALE
// where the name holds another entry now, EACCES where it holds no regular file or folder.
Result<host::Fd> OpenChecked(int dirfd, const char* name, const struct stat& want, int flags);

// NoteEntryStale: an entry resolved just now is another (ESTALE), so its next lookup looks afresh.
void NoteEntryStale();

// Resolve: the last component may be missing (exists = false). Fails as BadName (unspellable, too
// long), Folder (one on the way missing or not a folder) or EACCES (a link out of the mapping).
Status Resolve(std::u16string_view devicePath, HostEntry& out);

// ResolveTarget trusts a table miss (presumed), for exclusive creators that relook when taken.
Status ResolveTarget(std::u16string_view devicePath, HostEntry& out);

// ResolveExisting is Resolve for a path that must name an entry: fails as Resolve, and with ENOENT.
Status ResolveExisting(std::u16string_view devicePath, HostEntry& out);

// OpenResolved opens the entry e was looked up as, with flags | O_NOFOLLOW; e.st then comes from
// the descriptor (it may have changed since the look). Fails with the open's or the status's errno.
Status OpenResolved(HostEntry& e, host::Fd& fd, int flags);

// OpenExisting is ResolveExisting, then OpenResolved; fails as either.
Status OpenExisting(std::u16string_view devicePath, HostEntry& out, host::Fd& fd,
                    int flags = O_RDONLY | O_NONBLOCK);

// ResolvePattern resolves the folder part; pattern views devicePath's last part. Fails as Resolve.
Status ResolvePattern(std::u16string_view devicePath, std::string& dirHost,
                      std::u16string_view& pattern);

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
// Failures are the folder's. With keep, the folder stays open there, for lookups relative to it.
Status ReadListing(const std::string& dirHost, DirListing& out, host::Fd* keep = nullptr);
// The same for a folder already open (from its current position: a fresh descriptor).
Status ReadListingOf(int dirfd, DirListing& out);

// FollowConfined: a link's target and status in the mapping; EACCES leading out, else as it failed.
Status FollowConfined(const std::string& hostPath, std::string& target, struct stat& st);

// Enumerations announce the folders they hold open (fd stays theirs) and withdraw them on close.
void NoteOpenFolder(const std::string& dirHost, int fd);
void NoteClosedFolder(int fd);

// Tells the lookup tables about changes made by this process.
void NoteAdded(std::string_view dirHost, std::string_view hostName);
void NoteRemoved(std::string_view dirHost, std::string_view hostName);
// NoteMadeFolder: misses in a new folder's empty table are trusted while fresh (others' next tick).
void NoteMadeFolder(const std::string& dirHost);
// A name the folder's table missed turned out to exist: the next lookup there looks afresh.
void NoteStale(std::string_view dirHost);
// Called by ConfigureDevice, which then has everything learnt under the old mapping forgotten.
void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName);

}  // namespace wce::kernel::ns
