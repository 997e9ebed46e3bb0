// Every name change in host folders (entries from ns::Resolve) goes through here to keep caches
// true; EEXIST means taken, the folder relooked. Copy temporaries are never looked up: outside.
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
// NameUnnamed links fd under e's name by its descriptor where allowed, else through /proc.
Status NameUnnamed(int fd, const ns::HostEntry& e);
// Rename exclusive: RENAME_NOREPLACE, a link, or O_EXCL and rename (a kill leaves empty, not torn).
Status Rename(const std::string& temp, const ns::HostEntry& e, bool exclusive, dev_t dev);

}  // namespace wce::kernel::changes
