// CWnd: framework objects for windows, message maps and the dialog's message routing.
#include <memory>
#include <unordered_map>
#include <utility>

#include "platform/framework/internal.h"
#include "platform/user/window_tree.h"

namespace wce::framework {
namespace {

struct Maps {
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
    CWnd* creating = nullptr;
};

Maps& TheMaps() {
    static Maps maps;
    return maps;
}

// A destroyed window leaves no framework object pointing at it.
void OnWindowDestroyed(HWND hWnd) {
    auto& maps = TheMaps();
    if (auto it = maps.permanent.find(hWnd); it != maps.permanent.end()) {
        it->second->m_hWnd = nullptr;
        maps.permanent.erase(it);
    }
    if (auto it = maps.temporary.find(hWnd); it != maps.temporary.end()) {
        it->second->m_hWnd = nullptr;
        maps.temporary.erase(it);
    }
}

void InstallHooks() {
    static const bool installed = [] {
        wce::user::SetDestroyHook(OnWindowDestroyed);
        wce::user::SetIdleHook(DeleteTempObjects);
        return true;
    }();
    (void)installed;
}

CWnd* Permanent(HWND hWnd) {
    auto it = TheMaps().permanent.find(hWnd);
    return it == TheMaps().permanent.end() ? nullptr : it->second;
}

}  // namespace

void SetCreatingWindow(CWnd* pWnd) {
    InstallHooks();
    TheMaps().creating = pWnd;
}

void DeleteTempObjects() {
    for (auto& [h, p] : TheMaps().temporary) p->m_hWnd = nullptr;
    TheMaps().temporary.clear();
}

LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return AfxWndProc(hWnd, message, wParam, lParam);
}

}  // namespace wce::framework

using namespace wce::framework;

LRESULT AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = Permanent(hWnd);
    auto& maps = TheMaps();
    if (!pWnd && maps.creating) {
        pWnd = std::exchange(maps.creating, nullptr);
        pWnd->Attach(hWnd);
    }
    return pWnd ? pWnd->WindowProc(message, wParam, lParam) : 0;
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CCmdTarget::DispatchToMap(UINT nMessage, UINT nCode, UINT nID) {
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e && e->nMessage; ++e) {
            if (e->nMessage != nMessage) continue;
            if (nMessage == WM_COMMAND && (e->nCode != nCode || e->nID != nID)) continue;
            (this->*(e->pfn))();
            return TRUE;
        }
    }
    return FALSE;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (m_hWnd && Permanent(m_hWnd) == this) {
        const HWND h = Detach();
        ::DestroyWindow(h);
    }
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd || !::IsWindow(hWnd)) return nullptr;
    InstallHooks();
    if (CWnd* p = Permanent(hWnd)) return p;
    auto& temp = TheMaps().temporary[hWnd];
    if (!temp) {
        temp = std::make_unique<CWnd>();
        temp->m_hWnd = hWnd;
    }
    return temp.get();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd) return FALSE;
    InstallHooks();
    if (auto it = TheMaps().temporary.find(hWnd); it != TheMaps().temporary.end()) {
        it->second->m_hWnd = nullptr;
        TheMaps().temporary.erase(it);
    }
    TheMaps().permanent[hWnd] = this;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND h = std::exchange(m_hWnd, nullptr);
    if (h && Permanent(h) == this) TheMaps().permanent.erase(h);
    return h;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}
void CWnd::SetWindowText(LPCWSTR lpszString) {
    ::SetWindowTextW(m_hWnd, lpszString);
}

void CWnd::GetWindowText(CString& rString) const {
    const int len = ::GetWindowTextLengthW(m_hWnd);
    ::GetWindowTextW(m_hWnd, rString.GetBuffer(len + 1), len + 1);
    rString.ReleaseBuffer();
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}
BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}
void CWnd::GetWindowRect(RECT* lpRect) const {
    ::GetWindowRect(m_hWnd, lpRect);
}
void CWnd::GetClientRect(RECT* lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}
void CWnd::MapDialogRect(RECT* lpRect) const {
    ::MapDialogRect(m_hWnd, lpRect);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

HDC CWnd::GetDC() {
    return ::GetDC(m_hWnd);
}
int CWnd::ReleaseDC(HDC hDC) {
    return ::ReleaseDC(m_hWnd, hDC);
}
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

int CWnd::MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption, UINT nType) {
    return ::MessageBoxW(m_hWnd, lpszText, lpszCaption ? lpszCaption : AfxGetAppName(), nType);
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            return OnCommand(wParam, lParam);
        case WM_DESTROY:
            if (!DispatchToMap(WM_DESTROY, 0, 0)) OnDestroy();
            return 0;
        default:
            return DefWindowProc(message, wParam, lParam);
    }
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // A dialog's own default handling is the dialog manager's, which runs when we report "not
    // handled".
    auto* w = wce::user::Lookup(m_hWnd);
    if (!w || w->dlgProc) return 0;
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    return DispatchToMap(WM_COMMAND, HIWORD(wParam), LOWORD(wParam));
}

void CWnd::OnDestroy() {}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (!pDX || !pDX->m_pDlgWnd || rControl.m_hWnd) return;
    if (HWND h = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC)) rControl.Attach(h);
}

int CListBox::InsertString(int nIndex, LPCWSTR lpszItem) {
    return static_cast<int>(SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(nIndex),
                                        reinterpret_cast<LPARAM>(lpszItem)));
}
int CListBox::SetCurSel(int nSelect) {
    return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(nSelect)));
}
int CListBox::GetCurSel() const {
    return static_cast<int>(::SendMessageW(m_hWnd, LB_GETCURSEL, 0, 0));
}
int CListBox::GetCount() const {
    return static_cast<int>(::SendMessageW(m_hWnd, LB_GETCOUNT, 0, 0));
}

void CListBox::GetText(int nIndex, CString& rString) const {
    const auto len = ::SendMessageW(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(nIndex), 0);
    if (len == LB_ERR) {
        rString.Empty();
        return;
    }
    ::SendMessageW(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(nIndex),
                   reinterpret_cast<LPARAM>(rString.GetBuffer(static_cast<int>(len) + 1)));
    rString.ReleaseBuffer();
}
