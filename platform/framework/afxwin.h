// The dialog framework: application object, windows, dialogs, list boxes, files, message maps.
#pragma once

#include <string>

#include "platform/kernel/files.h"
#include "platform/user/dialogs.h"
#include "platform/user/winuser.h"

// A UTF-16 string of the framework.
class CString {
  public:
    CString() = default;
    CString(LPCWSTR s) : m_str(s ? s : u"") {}
    bool IsEmpty() const { return m_str.empty(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    operator LPCWSTR() const { return m_str.c_str(); }
    LPWSTR GetBuffer(int nMinLength);
    void ReleaseBuffer(int nNewLength = -1);
    void Empty() {
        m_str.clear();
        m_str.shrink_to_fit();
    }

  private:
    std::u16string m_str;
};

class CWnd;
class CDataExchange {
  public:
    explicit CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Message maps: entries chain to the base class's map.
class CCmdTarget;
using AFX_PMSG = void (CCmdTarget::*)();
enum class AfxSig { vv };
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // WM_COMMAND, WM_DESTROY, ...; 0 ends the table
    UINT nCode;     // notification code for WM_COMMAND
    UINT nID;       // control ID for WM_COMMAND
    AFX_PMSG pfn;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                     \
  protected:                                      \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                         \
    { 0, 0, 0, nullptr }                                                                          \
    }                                                                                             \
    ;                                                                                             \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                                           \
    }
#define ON_BN_CLICKED(id, memberFxn)                \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), \
     static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))},
#define ON_WM_DESTROY() \
    {WM_DESTROY, 0, 0,  \
     static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)()>(&ThisClass::OnDestroy))},

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // Finds a handler for the message in this class's map or a base class's; calls it.
    BOOL DispatchToMap(UINT nMessage, UINT nCode, UINT nID);
};

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override;
    HWND m_hWnd = nullptr;

    // A framework object for a window: the permanent one if the framework holds one, else a
    // temporary one that lives until the next idle time; nullptr for nullptr.
    static CWnd* FromHandle(HWND hWnd);
    BOOL Attach(HWND hWnd);
    HWND Detach();

    CWnd* GetDlgItem(int nID) const;
    void SetWindowText(LPCWSTR lpszString);
    void GetWindowText(CString& rString) const;
    BOOL ShowWindow(int nCmdShow);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    void GetWindowRect(RECT* lpRect) const;
    void GetClientRect(RECT* lpRect) const;
    void MapDialogRect(RECT* lpRect) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    HDC GetDC();
    int ReleaseDC(HDC hDC);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption = nullptr, UINT nType = MB_OK);

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    void OnDestroy();
    friend LRESULT AfxWndProc(HWND, UINT, WPARAM, LPARAM);
};

class CListBox : public CWnd {
  public:
    int InsertString(int nIndex, LPCWSTR lpszItem);
    int SetCurSel(int nSelect);
    int GetCurSel() const;
    int GetCount() const;
    void GetText(int nIndex, CString& rString) const;
};

// Binds a dialog control to a control object (subclassing it for the framework).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;
    // Creates the dialog from its template, runs it modally, destroys its window; returns the
    // value passed to EndDialog (-1 when the template cannot be found).
    virtual LRESULT DoModal();
    void EndDialog(int nResult);

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

  protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    UINT m_nIDHelp = 0;
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};

class CWinApp : public CCmdTarget {
  public:
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;
    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();
    LPCWSTR m_pszAppName = nullptr;  // the application title
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
LPCWSTR AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// Application-wide message box: the application's title as caption.
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// A file for reading.
class CFile {
  public:
    enum OpenFlags : UINT { modeRead = 0x0000, shareDenyNone = 0x0040 };
    enum SeekPosition : UINT { begin = 0x0, current = 0x1, end = 0x2 };
    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    // FALSE when the file does not exist or cannot be opened for reading.
    BOOL Open(LPCWSTR lpszFileName, UINT nOpenFlags);
    DWORD GetLength() const;
    LONG Seek(LONG lOff, UINT nFrom);
    // Bytes actually read; fewer at the end of the file, 0 on a failed read.
    UINT Read(void* lpBuf, UINT nCount);
    void Close();
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
