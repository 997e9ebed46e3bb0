// The file count: the visible files of a tree, as the copy will show them.
#include "dialog/setup_dlg.h"
#include "install/walk.h"

namespace {

struct CountHooks {
    int bCountAll;
    int nCount = 0;

    bool Root(WalkFrame&) { return true; }
    bool Pass() { return true; }
    // An entry whose path cannot be composed cannot be read by it either: it is not counted.
    bool Overlong() { return true; }
    // The count has no failure of its own; the copy that follows reports the folder.
    bool Unreadable() { return true; }
    bool EnterDir(WalkFrame*, int, LPCWSTR) { return true; }

    bool File(const WalkFrame& top, LPCWSTR pszName)
    {
        if (bCountAll) {
            ++nCount;
            return true;
        }
        WCHAR szPath[MAX_PATH];
        if (install::ComposePath(szPath, top.szSrcDir, pszName) &&
            !(GetFileAttributesW(szPath) & FILE_ATTRIBUTE_HIDDEN))
            ++nCount;
        return true;
    }
};

}  // namespace

// A walk cut short by exhausted memory returns what it counted until then; the copy that
// follows meets the same shortage and reports it.
int CSetupDlg::CountFiles(LPCWSTR pszRoot, int bCountAll)
{
    CountHooks hooks{bCountAll};
    install::Walk<CountHooks> walk(m_pWalkStack, hooks);
    walk.Run(pszRoot);
    return hooks.nCount;
}
