#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernel/activity.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/names.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/paths.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/handles.h"

namespace wce::kernel {
namespace {

struct FindObject : handles::Object {
    std::shared_ptr<ns::DirListing> listing = std::make_shared<ns::DirListing>();
    std::string dirHost;
    host::Fd dir;  // entries are described relative to it: one name to look up, not a path
    std::u16string pattern;
    std::u16string
        prefix;  // the device path of the folder, as the caller spelt it, with its backslash
    bool matchAll = false;
    size_t next = 0;
    ~FindObject() override {
        if (dir.valid()) ns::NoteClosedFolder(dir.get());
    }
};

FILETIME FileTimeOf(const timespec& t) {
    // 100 ns ticks since 1601, the device's epoch.
    auto ticks = (static_cast<std::uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
                 static_cast<std::uint64_t>(t.tv_nsec) / 100;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

void FillData(const struct stat& st, DWORD attributes, std::u16string_view name,
              WIN32_FIND_DATAW& data) {
    data.dwFileAttributes = attributes;
    data.ftCreationTime = FileTimeOf(st.st_ctim);
    data.ftLastAccessTime = FileTimeOf(st.st_atim);
    data.ftLastWriteTime = FileTimeOf(st.st_mtim);
    auto size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    data.dwOID = 0;
    size_t n = std::min(name.size(), size_t{MAX_PATH - 1});
    std::memcpy(data.cFileName, name.data(), n * sizeof(char16_t));
    data.cFileName[n] = 0;
}

// An entry whose status read failed with err: gone (false), or there but unreadable, then
// delivered as a plain file whose word was not read.
bool Unreadable(int err, struct stat& st, DWORD& attributes, bool& read) {
    if (err == ENOENT) return false;
    st = {};
    attributes = FILE_ATTRIBUTE_NORMAL;
    read = false;
    return true;
}

// The entry's status and word; false for an entry that vanished. An entry that is there but
// cannot be read, or a link that cannot be followed (dangling, looping, leading out of the mapped
// folders), is still delivered as a plain file whose word was not read, so that the caller meets
// the failure when it opens it instead of leaving the entry out unnoticed. at: when the reads
// began.
bool Describe(const FindObject& f, size_t k, struct stat& st, DWORD& attributes, int64_t& at,
              bool& wordRead) {
    const std::string leaf(f.listing->name(f.listing->entries[k]));
    const attrs::Location where{f.dir.get(), leaf.c_str(), f.dirHost};
    at = fsinfo::Now();
    if (host::FStatAt(where.dirfd, where.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Unreadable(HostError().err, st, attributes, wordRead);
    Result<DWORD> read = DWORD{0};
    if (!S_ISLNK(st.st_mode)) {
        read = attrs::Read(where, st);
    } else {
        std::string target;
        if (Status s = ns::FollowConfined(where.Full(), target, st); !s)
            return Unreadable(s.Is(ENOENT) ? ELOOP : s.error().err, st, attributes, wordRead);
        read = attrs::Read(target, st);
    }
    // Attributes that cannot be read leave a file plain here; read by its path, it counts as
    // hidden, and its copy reports why it cannot be read.
    attributes =
        read.value_or(S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
    wordRead = read.ok();
    return true;
}

bool Advance(FindObject& f, WIN32_FIND_DATAW& data) {
    std::u16string name;
    while (f.next < f.listing->entries.size()) {
        const size_t k = f.next++;
        name.clear();
        names::HostToDevice(f.listing->name(f.listing->entries[k]), name);
        if (!f.matchAll && !paths::MatchPattern(f.pattern, name)) continue;
        struct stat st {};
        DWORD attributes = 0;
        int64_t at = 0;
        bool wordRead = true;
        if (!Describe(f, k, st, attributes, at, wordRead)) continue;
        FillData(st, attributes, name, data);
        RecentEntry& recent = Known().recent;
        // A word not read is not remembered: asked for by path, it is read (and fails) again.
        if (!wordRead) {
            recent.path.clear();
            return true;
        }
        recent.path.assign(f.prefix).append(name);
        recent.attributes = attributes;
        recent.regular = S_ISREG(st.st_mode);
        recent.at = at;
        recent.generation = Known().Generation();
        return true;
    }
    return false;
}

HANDLE FindPattern(std::u16string_view devicePath, WIN32_FIND_DATAW& data) {
    auto f = std::make_unique<FindObject>();
    std::u16string_view pattern;
    if (Status s = ns::ResolvePattern(devicePath, f->dirHost, pattern); !s) {
        Fail(s);
        return INVALID_HANDLE_VALUE;
    }
    f->pattern.assign(pattern);
    f->prefix.assign(devicePath.substr(0, devicePath.size() - pattern.size()));
    f->matchAll = pattern == u"*" || pattern == u"*.*";
    if (Status s = ns::ReadListing(f->dirHost, *f->listing, &f->dir); !s) {
        if (!s.Is(ENOENT) && !s.Is(ENOTDIR)) ReportFailure("list", f->prefix, s.error().err);
        Fail(s);
        return INVALID_HANDLE_VALUE;
    }
    ns::NoteOpenFolder(f->dirHost, f->dir.get());
    if (!Advance(*f, data)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return handles::Add(std::move(f));
}

HANDLE FindExact(std::u16string_view devicePath, WIN32_FIND_DATAW& data) {
    ns::HostEntry e;
    if (Status s = ns::Resolve(devicePath, e); !s) {
        Fail(s);
        return INVALID_HANDLE_VALUE;
    }
    // The mapped folders themselves are not entries of any folder.
    if (!e.exists || e.nameOffset == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const Result<DWORD> attributes = attrs::Read(e.where(), e.st);
    if (!attributes) {
        Fail(attributes.error());
        return INVALID_HANDLE_VALUE;
    }
    std::u16string name;
    names::HostToDevice(e.name(), name);
    FillData(e.st, *attributes, name, data);
    return handles::Add(std::make_unique<FindObject>());
}

}  // namespace

bool attrs::RecentlyRegular(const char16_t* devicePath) {
    DWORD ignored;
    return Known().recent.regular && Recent(devicePath, ignored);
}

bool attrs::Recent(const char16_t* devicePath, DWORD& out) {
    const RecentEntry& r = Known().recent;
    if (r.path.empty() || Known().Generation() != r.generation) return false;
    // Compared as it is read, in one pass: a shorter path ends in a terminator no path holds.
    const size_t n = r.path.size();
    for (size_t k = 0; k < n; ++k)
        if (devicePath[k] != r.path[k]) return false;
    if (devicePath[n] != 0 || fsinfo::Now() - r.at >= fsinfo::kSeenWithin) return false;
    out = r.attributes;
    return true;
}

}  // namespace wce::kernel

using namespace wce::kernel;

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
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
