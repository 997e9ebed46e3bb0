// CWinApp: the one application object, its title and its message loop.
#include <cstdio>
#include <cstdlib>

#include "platform/framework/internal.h"
#include "platform/kernel/device.h"

namespace {

CWinApp* g_pApp = nullptr;
int g_instanceTag;  // its address is the module's instance handle

std::u16string& DefaultTitle() {
    static std::u16string title;
    return title;
}

// The executable's device name without its extension ("SETUP.exe" -> "SETUP").
std::u16string TitleFromExeName(const std::u16string& exeName) {
    const auto slash = exeName.find_last_of(u"\\/");
    std::u16string name = slash == std::u16string::npos ? exeName : exeName.substr(slash + 1);
    const auto dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

namespace wce::framework {

void InitApplication(CWinApp& app) {
    app.m_hInstance = AfxGetInstanceHandle();
    if (!app.m_pszAppName) {
        DefaultTitle() = TitleFromExeName(wce::kernel::CurrentDevice().exeName);
        app.m_pszAppName = DefaultTitle().c_str();
    }
}

}  // namespace wce::framework

CWinApp::CWinApp(LPCWSTR lpszAppName) : m_pszAppName(lpszAppName) {
    if (g_pApp) {
        std::fputs("a second application object was constructed; there must be exactly one\n",
                   stderr);
        std::abort();
    }
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    const int exitInstance = ExitInstance();
    return exitInstance != 0 ? exitInstance : static_cast<int>(msg.wParam);
}

int CWinApp::ExitInstance() {
    return 0;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

LPCWSTR AfxGetAppName() {
    if (g_pApp && g_pApp->m_pszAppName) return g_pApp->m_pszAppName;
    if (DefaultTitle().empty())
        DefaultTitle() = TitleFromExeName(wce::kernel::CurrentDevice().exeName);
    return DefaultTitle().c_str();
}

HINSTANCE AfxGetInstanceHandle() {
    return &g_instanceTag;
}
HINSTANCE AfxGetResourceHandle() {
    return &g_instanceTag;
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT) {
    return MessageBoxW(nullptr, lpszText, AfxGetAppName(), nType);
}
