// What the copy service (copy_posix.cpp, behind CopyFileW) offers the other services.
#pragma once

#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::copy {

// Gives the file e names a copy of its own, so that a change of its attributes does not reach the
// other names of a file with several (one perhaps outside the device); e.st is then the copy's.
Status Detach(ns::HostEntry& e);
// After a flush: the next copy into each folder sweeps it of dead temporaries again.
void ForgetSwept();

}  // namespace wce::kernel::copy
