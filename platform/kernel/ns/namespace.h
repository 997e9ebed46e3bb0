// Device paths to host entries (Resolve). paths::Normalize first; the first component picks the
// mapped folder (DeviceConfig::hostMedium for "\<medium>", else hostRoot); each further one is
// looked up exactly, else by case through the folder's name table (name_tables_posix.cpp).
// - A link is followed only to a target inside the mapped folders (FollowConfined), else EACCES.
// - Folders resolved are kept by folded device path (Folders::dirs); a stale one fails the lookup
//   below it, and the walk is made again without them (RetryUncached).
// - Changes and listings go through folders opened without following links (Confine,
//   OpenConfined); a change or read-back of an entry through a checked descriptor (OpenChecked).
// - While an enumeration holds a folder open (NoteOpenFolder), names in it are looked up
//   relative to it, so the walk meets the folder it lists.
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

// An entry named relative to an open folder, so that a walk does not make the host look up the
// whole path again; dir is that folder's host path, for the calls that have no relative form.
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
    // The open folder holding the entry, when an enumeration has one: every call on the entry,
    // a read or a change, then names it relative to that folder, so all of them meet the folder
    // the enumeration lists even if its path comes to name another meanwhile.
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

// The folder at dirHost (inside a mapped folder), opened without following any link below the
// mapped folder, so that what is done in it stays there even if a folder on the way is swapped
// for a link meanwhile. Fails with ELOOP or EXDEV when one has been, as Folder when one is gone.
Result<host::Fd> OpenConfined(std::string_view dirHost, int flags);
// Before a change in e's folder: names e relative to that folder opened as OpenConfined does
// (unless an enumeration already holds it open). A folder swapped for a link fails with EACCES.
Status Confine(HostEntry& e);

// The entry name in the folder dirfd (a full host path where dirfd is AT_FDCWD), opened with
// flags only while it is still the one the look-up saw (want): first without following a final
// link and without reading it (O_PATH), then, once its device, inode and type match, that very
// inode again through /proc/self/fd. A change or read made through the result cannot land on a
// link or a file swapped in after the look-up. Fails with ESTALE where the name holds another
// entry now, EACCES where it holds no regular file or folder.
Result<host::Fd> OpenChecked(int dirfd, const char* name, const struct stat& want, int flags);

// An entry resolved a moment ago turned out to be another now (OpenChecked's ESTALE): the next
// lookup of its path looks afresh instead of answering from the last one.
void NoteEntryStale();

// Resolves every component. The last one may be missing (exists = false) when its folder exists.
// Fails with BadName (a name the host cannot spell, or too long), Folder (a folder on the way is
// missing or not a folder) or EACCES (a link leading out of the mapped folders).
Status Resolve(std::u16string_view devicePath, HostEntry& out);

// As Resolve, but where the folder already has a name table, a last component missing from it is
// reported missing (presumed = true) without looking it up. For callers that create the entry
// exclusively (RENAME_NOREPLACE, O_EXCL) and look again only when the name turns out taken.
Status ResolveTarget(std::u16string_view devicePath, HostEntry& out);

// Opens an existing file looked up as by Resolve, for a caller that wants the file it reads
// described by the open descriptor (out.st comes from it). Fails as Resolve, and with ENOENT.
// flags: how to open it (O_NOFOLLOW is added; a link is followed by the lookup, never by the open).
Status OpenExisting(std::u16string_view devicePath, HostEntry& out, host::Fd& fd,
                    int flags = O_RDONLY | O_NONBLOCK);

// Resolves the folder part of a path whose last component is a pattern; the pattern is returned
// as a view into devicePath. Fails as Resolve.
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

// Follows a link found at hostPath: the target path and its status when the target lies inside
// the mapped folders; fails with EACCES when it leads out, or as the failed step did.
Status FollowConfined(const std::string& hostPath, std::string& target, struct stat& st);

// Enumerations announce the folders they hold open (fd stays theirs) and withdraw them on close.
void NoteOpenFolder(const std::string& dirHost, int fd);
void NoteClosedFolder(int fd);

// Tells the lookup tables about changes made by this process.
void NoteAdded(std::string_view dirHost, std::string_view hostName);
void NoteRemoved(std::string_view dirHost, std::string_view hostName);
// A folder this process has just made: it starts with an empty table, and misses in it are
// answered from the table while that is fresh (names another process adds are seen from the next
// clock tick on, as case variants are everywhere).
void NoteMadeFolder(const std::string& dirHost);
// A name the folder's table missed turned out to exist: the next lookup there looks afresh.
void NoteStale(std::string_view dirHost);
// Called by ConfigureDevice, which then has everything learnt under the old mapping forgotten.
void SetMapping(const std::string& hostRoot, const std::string& hostMedium,
                const std::u16string& mediumName);

}  // namespace wce::kernel::ns
