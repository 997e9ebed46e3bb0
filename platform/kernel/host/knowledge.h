// What the kernel has learnt about the host, held by one object: what each filesystem offers, the
// folders standing for the device, the name tables of the folders it looked into, the attribute
// bits it read, the entry an enumeration has just delivered, the folders swept of temporaries and
// the copies waiting to be read back. Each view is checked by the one freshness rule of
// filesystems.h (fsinfo::Stamp); every change this process makes reaches it through changes.h,
// which keeps it up to date; and it is forgotten as a whole when the mapping changes or a test
// fakes the host (Forget).
//
// The modules that read the host fill their part (namespace_posix.cpp the folders,
// attributes_posix.cpp the bits, filesystems_posix.cpp the filesystems, find_posix.cpp the recent
// entry); this header only says what there is. The Win32-shaped calls run on one thread at a time.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/writeback.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel {

struct U16Hash {
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
};
struct StrHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// What each filesystem offers, keyed by device.
struct FilesystemFacts {
    std::unordered_map<dev_t, fsinfo::Traits> traits;
    std::map<std::pair<dev_t, dev_t>, unsigned> refused;  // (device, source device): feature bits
    std::atomic<bool> noXattrAt{false};                   // the running kernel lacks getxattrat
};

// A folder's names by their folded form.
struct FoldedTable {
    fsinfo::Stamp stamp;     // the folder's stamps when the table was last checked
    bool ownChange = false;  // this process changed the folder since: its stamps moved
    int64_t verifiedAt = 0;  // when the table was last filled from the host
    int collisions = 0;      // names that fold alike; removing one then needs a rescan
    uint64_t names = 0;      // digest of every host name the folder holds
    std::unordered_map<std::u16string, std::string, U16Hash, std::equal_to<>> byFolded;
    int64_t checkedTick = -1;  // the clock tick in which the stamps were last compared
    bool made = false;         // this process made the folder: names in it are its own doing
};

// The device's folders on the host and what was learnt of the folders below them.
struct Folders {
    struct Open {
        std::string dirHost;
        int fd;
    };
    std::string rootHost, mediumHost, rootReal, mediumReal;
    std::u16string mediumName;
    std::vector<Open> open;  // held by enumerations, as deep as the walks that hold them
    // Resolved folders by their folded device path.
    std::unordered_map<std::u16string, std::string, U16Hash, std::equal_to<>> dirs;
    // The mapped folders opened, from which changes reach their folders without following links.
    struct Base {
        std::string host;
        host::Fd fd;
    };
    std::array<Base, 4> bases;
    size_t basesNext = 0;
    // The folder the last change was made in, opened that way, and the clock tick it was opened in.
    struct Held {
        std::string host;
        std::shared_ptr<host::Fd> fd;
        int64_t tick = -1;
    };
    Held lastConfined;
    // The last path resolved (namespace_posix.cpp), with when and in which generation.
    struct Resolved {
        bool valid = false;
        std::u16string path;
        ns::HostEntry entry;
        int64_t at = 0;
        unsigned generation = 0;
    };
    Resolved lastResolved;
    void ForgetResolved() {
        dirs.clear();
        for (Base& b : bases) b = Base{};
        lastConfined = Held{};
        lastResolved.valid = false;
    }
    std::unordered_map<std::string, FoldedTable, StrHash, std::equal_to<>> folded;
};

// The user.DOSATTRIB word read per inode.
struct RememberedBits {
    struct Key {
        dev_t dev;
        ino_t ino;
        bool operator==(const Key&) const = default;
    };
    struct Hash {
        // noexcept: the map then keeps no hash beside each entry.
        size_t operator()(const Key& k) const noexcept {
            return std::hash<ino_t>{}(k.ino) * 31 + k.dev;
        }
    };
    struct Bits {
        fsinfo::Stamp stamp;
        DWORD bits;
    };
    std::unordered_map<Key, Bits, Hash> byInode;
};

// The entry the last enumeration delivered, with the attribute word it read.
struct RecentEntry {
    std::u16string path;
    DWORD attributes = 0;
    bool regular = false;     // a regular file (a link's target)
    int64_t at = 0;           // when it was read
    unsigned generation = 0;  // Knowledge::Generation() then
};

class Knowledge {
  public:
    FilesystemFacts filesystems;
    Folders folders;
    RememberedBits attributes;
    RecentEntry recent;
    // Folders swept of dead temporaries (copy_posix.cpp) since the last flush.
    std::unordered_set<std::string> swept;
    // Data written and not yet known to be on each filesystem's medium (writeback.h).
    std::unordered_map<dev_t, writeback::Pending> writeback;
    // Copies made onto each filesystem since its last flush, to be read back (verify.h).
    std::unordered_map<dev_t, std::vector<std::pair<std::u16string, std::u16string>>> written;

    // Every change this process makes moves the generation: what was read before it may be out
    // of date.
    void NoteChange() { generation_.fetch_add(1, std::memory_order_relaxed); }
    unsigned Generation() const { return generation_.load(std::memory_order_relaxed); }

    // Forgets everything learnt; the mapping itself stays.
    void Forget();

  private:
    std::atomic<unsigned> generation_{0};
};

Knowledge& Known();

}  // namespace wce::kernel
