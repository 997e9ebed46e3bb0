// Device path rules as pure functions: no disk access, so they are tested by tables.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::paths {

// Longest device path in code units, without the terminator.
inline constexpr size_t kMaxPathUnits = MAX_PATH - 1;

// Upper-case folding of one code unit as device file names compare: ASCII, Latin-1, Latin
// Extended-A, Greek, Cyrillic and full-width Latin; everything else folds to itself.
char16_t FoldChar(char16_t c);
bool FoldedEqual(std::u16string_view a, std::u16string_view b);
void AppendFolded(std::u16string_view s, std::u16string& out);

bool HasWildcard(std::u16string_view s);
// Case-insensitive match of a name against '*' (any run) and '?' (one unit); "*.*" matches every
// name, with or without a dot, as on the device.
bool MatchPattern(std::u16string_view pattern, std::u16string_view name);

// The components of an absolute device path after resolving "." and "..". A ".." at the root
// stays at the root, as on the device, so no spelling climbs above "\".
struct Components {
    // The first count of them are set; the rest are left as they are, since clearing room for
    // the longest path would cost more than the rest of a lookup.
    struct Items {
        struct Span {
            const char16_t* data;
            size_t size;
        };
        Span at[kMaxPathUnits / 2 + 1];
        std::u16string_view operator[](size_t k) const { return {at[k].data, at[k].size}; }
    };
    Items items;
    size_t count = 0;
};
// Fails with a BadName error for a path empty or not starting with "\", and ENAMETOOLONG for one
// longer than kMaxPathUnits. The views point into path.
Status Normalize(std::u16string_view path, Components& out);

}  // namespace wce::kernel::paths
