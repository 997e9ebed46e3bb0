// Device path and name rules as pure functions: no disk access, so they are tested by tables.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::paths {

// Longest device path in code units, without the terminator.
inline constexpr size_t kMaxPathUnits = MAX_PATH - 1;

// FoldChar upper-cases as device names compare: ASCII, Latin-1/Ext-A, Greek, Cyrillic, full-width.
char16_t FoldChar(char16_t c);
bool FoldedEqual(std::u16string_view a, std::u16string_view b);
void AppendFolded(std::u16string_view s, std::u16string& out);

bool HasWildcard(std::u16string_view s);
// MatchPattern ignores case, '*' any run, '?' one unit; "*.*" matches names with or without a dot.
bool MatchPattern(std::u16string_view pattern, std::u16string_view name);

// Components of a normalised path; ".." at the root stays there, so no spelling climbs above "\".
struct Components {
    // Only the first count are set: clearing room for the longest path costs more than a lookup.
    struct Items {
        struct Span {
            const char16_t* data;
            size_t size;
        };
        Span at[kMaxPathUnits / 2 + 1];
        std::u16string_view operator[](size_t k) const { return {at[k].data, at[k].size}; }
    };
    Items items;
    size_t count;  // set by Normalize, first of all
};
// Normalize: BadName if empty or not starting "\", ENAMETOOLONG past kMaxPathUnits; views in path.
Status Normalize(std::u16string_view path, Components& out);

// Host names (bytes) to device names (UTF-16) and back, reversibly: a non-UTF-8 byte as
// U+DC80..FF, a reserved char (\ : * ? " < > |) as U+F000 + code; host names holding those get
// escaped. HostToDevice appends the device form of a host name; never fails.
void HostToDevice(std::string_view host, std::u16string& out);
// DeviceToHost appends the host form; BadName for a reserved char, "/" or an unpaired surrogate
// outside U+DC80..U+DCFF.
Status DeviceToHost(std::u16string_view name, std::string& out);

}  // namespace wce::kernel::paths
