// What an install says before it copies: the entry, where from and onto, a package not there.
#include "dialog/setup_dlg.h"
#include "install/notes.h"
#include "install/walk.h"

void CSetupDlg::AnnounceInstall(int nSel, LPCWSTR pszProduct, bool bNamesFolder) {
    install::Notes& notes = install::CurrentNotes();
    CString name;
    m_lbProducts.GetText(nSel, name);
    notes.Installing(name, m_aszProductKeys[nSel], pszProduct);
    // The device counts a missing package as empty and completes; the words say why nothing came.
    if (!bNamesFolder || !install::EntryExists(pszProduct)) {
        notes.Missing(pszProduct, false);
        return;
    }
    WCHAR szTree[MAX_PATH];
    const bool bSetApp =
        install::ComposePath(szTree, pszProduct, u"\\SETAPP") && install::EntryExists(szTree);
    const bool bTav =
        install::ComposePath(szTree, pszProduct, u"\\TAV") && install::EntryExists(szTree);
    if (!bSetApp && !bTav) notes.Missing(pszProduct, true);
}
