// Every change this process makes to the names in host folders goes through here, which keeps
// what the kernel remembers about those folders (namespace.h) up to date, so that no entry point
// patches a cache by hand. Each call takes an entry resolved by ns::Resolve; a failure with EEXIST
// means the name was taken, and the folder is then looked at afresh next time. The temporaries a
// copy makes beside its target (copy_posix.cpp) are never looked up, so they stay outside.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::changes {

// Makes the folder e names; it starts with an empty name table of its own.
Status MakeFolder(const ns::HostEntry& e);
// Removes the file e names (a link itself, not its target).
Status RemoveFile(const ns::HostEntry& e);
// Gives the finished unnamed file fd the name e names: by its descriptor where the kernel lets
// anyone do that, else through /proc.
Status NameUnnamed(int fd, const ns::HostEntry& e);
// Renames the finished file temp, a name in the folder of e, to the name e names. Exclusive: only
// where nothing is there; where the filesystem on dev has no exclusive rename, a hard link does the
// same, and where it has no links either, an exclusive create claims the name and a plain rename
// fills it (a process killed between the two leaves an empty file under the name, never a torn
// one).
Status Rename(const std::string& temp, const ns::HostEntry& e, bool exclusive, dev_t dev);

}  // namespace wce::kernel::changes
