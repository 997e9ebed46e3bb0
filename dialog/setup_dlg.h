// The installer dialog.
#pragma once

#include "install/walk_frame.h"
#include "platform/framework/afxwin.h"
#include "resources/resource.h"

inline constexpr int MAX_PRODUCTS = 100;
inline constexpr int MAX_KEY_LEN = 16;           // code units, without the terminator
inline constexpr int MAX_DISPLAY_NAME_LEN = 31;  // code units, without the terminator

class CSetupDlg : public CDialog {
  public:
    explicit CSetupDlg(CWnd* pParent = nullptr);
    enum { IDD = IDD_SETUP };

    CListBox m_lbProducts;
    HICON m_hIcon;
    WCHAR m_szSetupDir[MAX_PATH];
    WCHAR m_aszProductKeys[MAX_PRODUCTS][MAX_KEY_LEN + 1];
    int m_nTotalFiles;
    int m_nCopiedFiles;
    WalkFrame* m_pWalkStack = nullptr;
    BOOL m_bInstalling =
        FALSE;                  // an install runs: no second one, no walk from a dispatched message
    BOOL m_bNameClash = FALSE;  // a count met two names of one folder that differ only in case
    BOOL m_bStopRequested = FALSE;  // a stop event came during the copy: end after this file
    DWORD m_dwStopEvent = 0;
    int m_nNewFiles = 0;  // visible files copied that the card did not hold before

    // Start-up steps.
    int LoadCatalogue();
    // The executable's folder with its trailing backslash into m_szSetupDir; empty when the
    // path has no backslash or did not fit.
    void FindSetupDir();
    [[noreturn]] void StopInstaller();
    void AdjustLayout();
    static int RoundHalfAway(double value);

    // Installation.
    int CountFiles(LPCWSTR pszRoot, int bCountAll);
    int CopyTree(LPCWSTR pszSrcRoot, LPCWSTR pszDstRoot, int bCopyAll);
    void OnInstall();
    // Tells what is about to be installed from where, and whether the package is there at all
    // (bNamesFolder: the key can name a folder of the device).
    void AnnounceInstall(int nSel, LPCWSTR pszProduct, bool bNamesFolder);
    // Whether the card has room for both trees and every path fits the device, before anything
    // is copied; a failure is in the notes.
    BOOL CheckFits(const LPCWSTR aszSrc[2], const LPCWSTR aszDst[2]);
    // Compares the device with the selected package, reading past caches; changes nothing.
    BOOL CheckPackage();

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnDestroy();

    DECLARE_MESSAGE_MAP()
};
