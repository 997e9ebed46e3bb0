#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernel/activity.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/paths.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/handles.h"

namespace wce::kernel {
namespace {

struct FindObject : handles::Object {
    ns::DirListing listing;
    std::u16string prefix;  // the device path of the folder listed, with its separator
    ns::NodeRef dir;        // entries are described relative to it: one name to look up, not a path
    std::u16string pattern;
    bool matchAll = false;
    size_t next = 0;
};

void FillData(const struct stat& st, DWORD attributes, std::u16string_view name,
              WIN32_FIND_DATAW& data) {
    data.dwFileAttributes = attributes;
    data.ftCreationTime = attrs::FileTimeOf(st.st_ctim);
    data.ftLastAccessTime = attrs::FileTimeOf(st.st_atim);
    data.ftLastWriteTime = attrs::FileTimeOf(st.st_mtim);
    auto size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    data.dwOID = 0;
    size_t n = std::min(name.size(), size_t{MAX_PATH - 1});
    std::memcpy(data.cFileName, name.data(), n * sizeof(char16_t));
    data.cFileName[n] = 0;
}

// Describe: the entry's word (bad links and unreadable entries fail, delivered plain so the open
// fails too); Kind::Stale where it vanished since it was listed.
Status Describe(const FindObject& f, size_t k, struct stat& st, DWORD& word) {
    ns::Entry e;
    const Status s = ns::Describe(f.dir, f.listing.name(f.listing.entries[k]), e);
    st = e.st;
    if (s) return attrs::Read(e.where(), e.st, word);
    st = {};
    return s.Is(ENOENT) && !e.exists ? Error{ENOENT, Kind::Stale} : s;
}

bool Advance(FindObject& f, WIN32_FIND_DATAW& data) {
    std::u16string name;
    while (f.next < f.listing.entries.size()) {
        const size_t k = f.next++;
        name.clear();
        paths::HostToDevice(f.listing.name(f.listing.entries[k]), name);
        if (!f.matchAll && !paths::MatchPattern(f.pattern, name)) continue;
        struct stat st {};
        DWORD attributes = 0;
        const Status read = Describe(f, k, st, attributes);
        if (read.Is(Kind::Stale)) continue;
        // An unreadable word is not remembered: asked for by path, it is read (and fails) again.
        if (!read)
            attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        FillData(st, attributes, name, data);
        return true;
    }
    return false;
}

HANDLE FindPattern(std::u16string_view devicePath, WIN32_FIND_DATAW& data) {
    auto f = std::make_unique<FindObject>();
    const size_t slash = devicePath.rfind(u'\\');
    const std::u16string_view pattern = devicePath.substr(slash + 1);
    if (slash == std::u16string_view::npos || pattern.empty())
        return FailWith(INVALID_HANDLE_VALUE, Error{EINVAL, Kind::BadName});
    f->pattern.assign(pattern);
    f->prefix.assign(devicePath.substr(0, slash + 1));
    f->matchAll = pattern == u"*" || pattern == u"*.*";
    if (Status s = ns::ResolveFolder(slash == 0 ? u"\\" : devicePath.substr(0, slash), f->dir); !s)
        return FailWith(INVALID_HANDLE_VALUE, s);
    if (Status s = ns::ReadListing(f->dir->fd.get(), f->listing); !s) {
        // A folder that is not there is the caller's to judge; any other failure is told.
        s.Is(ENOENT) || s.Is(ENOTDIR) ? Fail(s) : Report(s.At("list", f->prefix).error());
        return INVALID_HANDLE_VALUE;
    }
    if (!Advance(*f, data)) return FailWith(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    return handles::Add(std::move(f));
}

HANDLE FindExact(std::u16string_view devicePath, WIN32_FIND_DATAW& data) {
    ns::Entry e;
    if (Status s = ns::Resolve(devicePath, e); !s) return FailWith(INVALID_HANDLE_VALUE, s);
    // The mapped folders themselves are not entries of any folder.
    if (!e.exists || e.IsMapped()) return FailWith(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    DWORD attributes = 0;
    if (Status s = attrs::Read(e.where(), e.st, attributes); !s)
        return FailWith(INVALID_HANDLE_VALUE, s);
    std::u16string name;
    paths::HostToDevice(e.leaf, name);
    FillData(e.st, attributes, name, data);
    return handles::Add(std::make_unique<FindObject>());
}

}  // namespace

}  // namespace wce::kernel

using namespace wce::kernel;

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr)
        return FailWith(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    std::u16string_view devicePath(lpFileName);
    std::u16string_view last = devicePath.substr(devicePath.rfind(u'\\') + 1);
    return paths::HasWildcard(last) ? FindPattern(devicePath, *lpFindFileData)
                                    : FindExact(devicePath, *lpFindFileData);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    auto* f = handles::Get<FindObject>(hFindFile);
    if (f == nullptr || lpFindFileData == nullptr) return Fail(ERROR_INVALID_HANDLE);
    return Advance(*f, *lpFindFileData) ? TRUE : Fail(ERROR_NO_MORE_FILES);
}

BOOL FindClose(HANDLE hFindFile) {
    if (handles::Get<FindObject>(hFindFile) == nullptr) return Fail(ERROR_INVALID_HANDLE);
    handles::Remove(hFindFile);
    return TRUE;
}
