// Reading SETUP.INI into the product list and the key table.
#include <algorithm>

#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "platform/kernel/strings.h"

namespace {

// The catalogue path, or FALSE when the setup directory is unknown or the path does not fit:
// a cut path would name some other file.
BOOL ComposeCataloguePath(LPCWSTR pszSetupDir, LPWSTR pszPath) {
    if (pszSetupDir[0] == 0) return FALSE;
    return SUCCEEDED(StringCchCopyW(pszPath, MAX_PATH, pszSetupDir)) &&
           SUCCEEDED(StringCchCatW(pszPath, MAX_PATH, u"SETUP.INI"));
}

// Stores one package at position n; false once the key table is full.
bool AddProduct(CSetupDlg& dlg, int& n, std::u16string_view key, std::u16string_view name) {
    if (n >= MAX_PRODUCTS) return false;
    // The reader refuses longer keys; the table's bound is kept here all the same.
    if (key.size() > static_cast<std::size_t>(MAX_KEY_LEN)) return true;
    std::copy(key.begin(), key.end(), dlg.m_aszProductKeys[n]);
    dlg.m_aszProductKeys[n][key.size()] = 0;
    WCHAR szName[MAX_DISPLAY_NAME_LEN + 1];
    const std::size_t len = catalogue::FittedNameLength(name, MAX_DISPLAY_NAME_LEN);
    std::copy_n(name.begin(), len, szName);
    szName[len] = 0;
    dlg.m_lbProducts.InsertString(n, szName);
    ++n;
    return true;
}

}  // namespace

int CSetupDlg::LoadCatalogue() {
    // 1. The catalogue beside the executable.
    WCHAR szPath[MAX_PATH];
    if (!ComposeCataloguePath(m_szSetupDir, szPath)) {
        AfxMessageBox(u"Not found SETUP.INI");
        return 0;
    }

    // 2. Existence test; its enumeration stays open until the file is closed.
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(szPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        AfxMessageBox(u"Not found SETUP.INI");
        return 0;
    }

    // 3. Open.
    CFile file;
    if (!file.Open(szPath, CFile::modeRead)) {
        FindClose(hFind);
        AfxMessageBox(u"Failed in opening SETUP.INI");
        return 0;
    }

    // 4. Read the lines window by window.
    int n = 0;
    const catalogue::ScanReport report = catalogue::ScanCatalogue(
        static_cast<LONG>(file.GetLength()),
        [&file](LONG offset, BYTE* buffer, UINT count) {
            file.Seek(offset, CFile::begin);
            return file.Read(buffer, count);
        },
        [this, &n](std::u16string_view key, std::u16string_view name) {
            return AddProduct(*this, n, key, name);
        },
        MAX_KEY_LEN, MAX_DISPLAY_NAME_LEN);

    // 5. Release the file and the enumeration.
    file.Close();
    FindClose(hFind);
    for (const std::string& warning : report.warnings)
        catalogue::Note(catalogue::NoteKind::Warning, warning);

    // 6. Select the first package.
    if (n > 0) {
        m_lbProducts.SetCurSel(0);
        return 1;
    }
    catalogue::Note(catalogue::NoteKind::Cause, report.whyNoPackage);
    AfxMessageBox(u"Invalid SETUP.INI");
    return 0;
}
