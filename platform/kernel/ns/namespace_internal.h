// What the parts of the device namespace share (namespace_posix.cpp resolves paths,
// name_tables_posix.cpp keeps the folders' name tables, folders_posix.cpp opens folders without
// following links); nothing outside them includes it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/host/result.h"

namespace wce::kernel::ns {

inline Folders& M() {
    return Known().folders;
}
inline int64_t CurrentTick(int64_t now) {
    return now / fsinfo::Tick();
}

// Absolute path with every link followed, walked component by component so that each step goes
// through the host table.
Status Canonical(const std::string& in, std::string& out);

// The folder's name table, checked by the freshness rule (rebuilt when out of date); the shared
// FoldingFolder() where the host folds case itself and needs none. Fails as the folder's status.
Result<FoldedTable*> TableFor(const std::string& dirHost);
FoldedTable& FoldingFolder();
// A folder this process made, its table checked in this tick: what the table lacks is missing.
bool MadeAndFresh(const std::string& dirHost);

}  // namespace wce::kernel::ns
