// What the ns/ parts share (resolving, name tables, link-free folder opens); only ns/ includes it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::ns {

// Transparent: a lookup by a view builds no string.
template <class View>
struct ViewHash {
    using is_transparent = void;
    size_t operator()(View s) const { return std::hash<View>{}(s); }
};
using U16Hash = ViewHash<std::u16string_view>;
using StrHash = ViewHash<std::string_view>;

// A folder's names by their folded form.
struct FoldedTable {
    fsinfo::View listed;                 // the folder's stamps and when it was last listed
    int64_t comparedAt = INT64_MIN / 2;  // when its stamps were last compared with the host
    bool ownChange = false;              // this process changed the folder since it was listed
    bool made = false;   // this process made the folder: names in it are its own doing
    int collisions = 0;  // names that fold alike; removing one then needs a rescan
    std::unordered_map<std::u16string, std::string, U16Hash, std::equal_to<>> byFolded;
};

// The namespace's part of what is known (knowledge.h): the mapping and what was learnt below it.
struct Folders {
    struct Open {
        std::string dirHost;
        int fd;
    };
    std::vector<Open> open;  // held by enumerations, as deep as the walks that hold them
    // Resolved folders by their folded device path: a spelling, checked by every lookup below it.
    std::unordered_map<std::u16string, std::string, U16Hash, std::equal_to<>> dirs;
    std::unordered_map<std::string, FoldedTable, StrHash, std::equal_to<>> folded;
    FoldedTable foldingFolder;  // stands for every folder whose filesystem ignores case
    // The mapped folders opened, from which changes reach their folders without following links.
    struct Base {
        std::string host;
        host::Fd fd;
    };
    std::array<Base, 4> bases;
    size_t basesNext = 0;
    // The folder the last change was made in, opened that way, held for one tick (Confine).
    struct Held {
        std::string host;
        std::shared_ptr<host::Fd> fd;
        fsinfo::View opened;
    };
    Held lastConfined;
    bool noOpenAt2 = false;  // the running kernel lacks openat2
    // The last path resolved, reused within a tick of no changes (a walk checks, unlocks, copies).
    LastAnswer<HostEntry> lastResolved;

    // Forgets the folders resolved, when one turned out stale.
    void ForgetResolved() {
        dirs.clear();
        for (Base& b : bases) b = Base{};
        lastConfined = Held{};
        lastResolved = {};
    }
};

// The mapping survives Forget: it is the user's setting, not something learnt.
struct Mapping {
    std::string rootHost, mediumHost, rootReal, mediumReal;
    std::u16string mediumName;
};
Mapping& Mapped();

inline Folders& KnownFolders() {
    return Learnt<Folders>();
}

// Canonical follows every link one component at a time so each step goes through the host table.
Status Canonical(const std::string& in, std::string& out);

// TableFor: by Fresh (rebuilt when stale), or the shared one where the host folds case.
// Fails as the folder's status.
Result<FoldedTable*> TableFor(const std::string& dirHost);
// A folder this process made, its table compared with the host this tick: what it lacks is missing.
bool MadeAndFresh(const std::string& dirHost);

}  // namespace wce::kernel::ns
