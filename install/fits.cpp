// Before the first copy: whether the card has room for the package and every path of it fits the
// device, so that an install bound to fail midway fails with the card untouched.
#include <cstdint>

#include "dialog/setup_dlg.h"
#include "install/install_scope.h"
#include "install/notes.h"
#include "install/walk.h"

namespace {

// The size of the entry at an exact path; false when there is none.
bool SizeOf(LPCWSTR pszPath, std::uint64_t& rSize) {
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pszPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    FindClose(hFind);
    rSize = (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    return true;
}

struct FitHooks {
    LPCWSTR pszDstRoot;
    std::uint64_t cbCluster;
    std::uint64_t cbNeed = 0;   // new files and folders, in whole clusters
    std::uint64_t cbFreed = 0;  // the files they replace, in whole clusters

    std::uint64_t Clusters(std::uint64_t cb) const {
        return (cb + cbCluster - 1) / cbCluster * cbCluster;
    }

    bool Root(WalkFrame& root) {
        return SUCCEEDED(StringCchCopyW(root.szDstDir, MAX_PATH, pszDstRoot));
    }
    bool Pass() { return true; }
    bool Overlong(LPCWSTR pszDir, LPCWSTR pszName) {
        install::CurrentNotes().Overlong(pszDir, pszName);
        return false;
    }
    // The copy meets the same folder and reports it.
    bool Unreadable() { return true; }
    void Met(const WalkFrame&, int, LPCWSTR) {}
    void SkippedDot(const WalkFrame&, LPCWSTR) {}

    bool EnterDir(WalkFrame* frames, int depth, LPCWSTR pszName) {
        LPWSTR pszDir = frames[depth].szDstDir;
        if (!install::ComposePath(pszDir, frames[depth - 1].szDstDir, pszName, u"\\"))
            return Overlong(frames[depth - 1].szDstDir, pszName);
        pszDir[lstrlenW(pszDir) - 1] = 0;
        if (!install::EntryExists(pszDir)) cbNeed += cbCluster;
        return SUCCEEDED(StringCchCatW(pszDir, MAX_PATH, u"\\"));
    }

    bool File(const WalkFrame& top, LPCWSTR pszName) {
        WCHAR szSrc[MAX_PATH];
        WCHAR szDst[MAX_PATH];
        if (!install::ComposePath(szSrc, top.szSrcDir, pszName))
            return Overlong(top.szSrcDir, pszName);
        if (!install::ComposePath(szDst, top.szDstDir, pszName))
            return Overlong(top.szDstDir, pszName);
        std::uint64_t cb = 0;
        if (SizeOf(szSrc, cb)) cbNeed += Clusters(cb);
        if (SizeOf(szDst, cb)) cbFreed += Clusters(cb);
        return true;
    }
};

// The cluster of the filesystem holding a folder; 0 when the folder is not there.
std::uint64_t ClusterOf(LPCWSTR pszRoot) {
    DWORD dwSectors = 0, dwBytes = 0, dwFree = 0, dwTotal = 0;
    if (!GetDiskFreeSpaceW(pszRoot, &dwSectors, &dwBytes, &dwFree, &dwTotal)) return 0;
    const std::uint64_t cb = static_cast<std::uint64_t>(dwSectors) * dwBytes;
    return cb > 0 ? cb : 1;
}

}  // namespace

BOOL CSetupDlg::CheckFits(const LPCWSTR aszSrc[2], const LPCWSTR aszDst[2]) {
    install::InstallScope busy(*this);
    std::uint64_t acbNeed[2] = {0, 0};
    std::uint64_t acbFree[2] = {0, 0};
    std::uint64_t acbCluster[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        // A missing root has no filesystem to ask; the copy fails at its first entry, as the device
        // does.
        acbCluster[i] = ClusterOf(aszDst[i]);
        FitHooks hooks{aszDst[i], acbCluster[i] ? acbCluster[i] : 1};
        install::Walk<FitHooks> walk(m_pWalkStack, hooks);
        if (!walk.Run(aszSrc[i])) return FALSE;
        ULARGE_INTEGER free{};
        ULARGE_INTEGER total{};
        // A filesystem that gives no size (some FUSE drivers) says nothing of its room either.
        if (acbCluster[i] == 0 || !GetDiskFreeSpaceExW(aszDst[i], &free, &total, nullptr) ||
            total.QuadPart == 0) {
            acbCluster[i] = 0;
            continue;
        }
        acbNeed[i] = hooks.cbNeed > hooks.cbFreed ? hooks.cbNeed - hooks.cbFreed : 0;
        acbFree[i] = free.QuadPart;
    }
    // Both roots on one filesystem share its free space.
    if (acbCluster[0] != 0 && acbCluster[1] != 0 && install::EntryIdOf(aszDst[0]).valid &&
        install::EntryIdOf(aszDst[0]).dev == install::EntryIdOf(aszDst[1]).dev) {
        acbNeed[1] += acbNeed[0];
        acbNeed[0] = 0;
    }
    for (int i = 0; i < 2; ++i) {
        if (acbNeed[i] <= acbFree[i]) continue;
        install::CurrentNotes().NoRoom(aszDst[i], acbNeed[i], acbFree[i],
                                       static_cast<DWORD>(acbCluster[i]));
        return FALSE;
    }
    return TRUE;
}
