// Every name change in device folders (entries from ns::Resolve) goes through here, so the folder
// nodes stay true; EEXIST means taken, the folder relisted. Copy temporaries are never looked up.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::changes {

// Makes the folder e names; it starts with an empty name table of its own.
Status MakeFolder(const ns::Entry& e);
// NameUnnamed links fd under e's name by its descriptor where allowed, else through /proc.
Status NameUnnamed(int fd, const ns::Entry& e);
// Rename exclusive: RENAME_NOREPLACE, a link, or O_EXCL and rename (a kill leaves empty, not torn).
Status Rename(const std::string& temp, const ns::Entry& e, bool exclusive, dev_t dev);

}  // namespace wce::kernel::changes
