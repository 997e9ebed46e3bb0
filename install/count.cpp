// The file count: the visible files of a tree, as the copy will show them.
#include <set>
#include <string>
#include <vector>

#include "dialog/setup_dlg.h"
#include "install/notes.h"
#include "install/walk.h"

namespace {

// Names as the device tells them apart: without regard to case.
struct CaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return lstrcmpiW(a.c_str(), b.c_str()) < 0;
    }
};

struct CountHooks {
    CSetupDlg& dlg;
    int bCountAll;
    int nCount = 0;
    // The names met so far in each open level of the walk, and the folder they belong to.
    struct Level {
        std::u16string dir;
        std::set<std::u16string, CaseLess> names;
    };
    std::vector<Level> levels;

    bool Root(WalkFrame&) { return true; }
    bool Pass() { return true; }
    // An entry whose path cannot be composed cannot be read by it either: it is not counted.
    bool Overlong(LPCWSTR, LPCWSTR) { return true; }
    // The count has no failure of its own; the copy that follows reports the folder.
    bool Unreadable() { return true; }
    bool EnterDir(WalkFrame*, int, LPCWSTR) { return true; }
    void SkippedDot(const WalkFrame&, LPCWSTR) {}

    // Two names of one folder that differ only in case would land on one entry of the device,
    // the second replacing the first or mixing into it: the install must not start.
    void Met(const WalkFrame& top, int depth, LPCWSTR pszName) {
        if (levels.size() <= static_cast<std::size_t>(depth)) levels.resize(depth + 1);
        Level& level = levels[depth];
        if (level.dir != top.szSrcDir) {  // a sibling's folder held this level before
            level.dir = top.szSrcDir;
            level.names.clear();
        }
        const auto [it, bNew] = level.names.insert(pszName);
        if (bNew || dlg.m_bNameClash) return;
        dlg.m_bNameClash = TRUE;
        install::CurrentNotes().NameClash(top.szSrcDir, pszName, it->c_str());
    }

    bool File(const WalkFrame& top, LPCWSTR pszName) {
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
int CSetupDlg::CountFiles(LPCWSTR pszRoot, int bCountAll) {
    CountHooks hooks{*this, bCountAll, 0, {}};
    install::Walk<CountHooks> walk(m_pWalkStack, hooks);
    walk.Run(pszRoot);
    return hooks.nCount;
}
