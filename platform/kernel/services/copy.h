// What the copy service (copy_posix.cpp, behind CopyFileW) offers the other services.
#pragma once

#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::copy {

// Detach gives e's file its own copy so attribute changes miss its other names; e.st is the copy's.
Status Detach(ns::Entry& e);

}  // namespace wce::kernel::copy
