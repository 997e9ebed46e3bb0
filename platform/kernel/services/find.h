// What an enumeration learnt of the entry it delivered last (find_posix.cpp).
#pragma once

#include <string_view>

#include "platform/kernel/wintypes.h"

namespace wce::kernel::find {

// Delivered: FindNextFileW's word within a tick of no changes (without it, ext4 reinstalls 1.14x).
bool Delivered(std::u16string_view devicePath, DWORD& attributes);

}  // namespace wce::kernel::find
