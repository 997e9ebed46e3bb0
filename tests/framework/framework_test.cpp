// The dialog framework: message maps, the modal dialog's order of events, window objects,
// strings, the application title and the file object.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/framework/afxwin.h"
#include "platform/kernel/device.h"
#include "platform/user/window_tree.h"

namespace {

const DialogItemTemplate kItems[] = {
    {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 0, 0, 0, 100, 50, 10, u"LISTBOX", nullptr},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 10, 60, 40, 14, 11, u"BUTTON", u"Go"},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 60, 60, 40, 14, 12, u"BUTTON", u"Base"},
};
const DialogTemplate kTemplate{WS_POPUP | WS_VISIBLE | WS_CAPTION,
                               WS_EX_CAPTIONOKBTN,
                               0,
                               0,
                               150,
                               90,
                               u"Framework",
                               11,
                               u"font",
                               0x0411,
                               kItems};
const DialogResource kDialogs[] = {{200, &kTemplate}};
const BYTE kPixels[4] = {1, 2, 3, 4};
const DWORD kPalette[16] = {};
const IconImage kImages[] = {{2, 2, kPixels, kPalette, nullptr}};
const IconResource kIcons[] = {{128, kImages}};

}  // namespace

const ModuleResources wce::g_moduleResources{kDialogs, kIcons, nullptr};

namespace {

class TestApp : public CWinApp {};
TestApp g_app;  // the one application object, as a program has

// Answers each wait of the modal loop with the next step, then ends the loop.
class StepDisplay : public wce::user::Display {
  public:
    std::vector<std::function<void()>> steps;
    size_t next = 0;
    void WaitForInput() override {
        if (next < steps.size())
            steps[next++]();
        else
            PostQuitMessage(0);
    }
};

std::vector<std::string> g_events;

class BaseDlg : public CDialog {
  public:
    BaseDlg() : CDialog(200) {}
    void OnBase() { g_events.push_back("base handler"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseDlg, CDialog)
ON_BN_CLICKED(12, OnBase)
ON_BN_CLICKED(11, OnBase)
END_MESSAGE_MAP()

class TestDlg : public BaseDlg {
  public:
    CListBox m_list;
    HWND m_listAtInit = nullptr;
    void OnGo() {
        g_events.push_back("go");
        g_events.push_back(std::string("list count ") + std::to_string(m_list.GetCount()));
    }

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        g_events.push_back(pDX->m_bSaveAndValidate ? "exchange save" : "exchange load");
        DDX_Control(pDX, 10, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_listAtInit = m_list.m_hWnd;
        m_list.InsertString(-1, u"first");
        g_events.push_back("init");
        return TRUE;
    }
    void OnDestroy() {
        CDialog::OnDestroy();
        g_events.push_back(std::string("destroy, list attached ") + (m_list.m_hWnd ? "yes" : "no"));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, BaseDlg)
ON_BN_CLICKED(11, OnGo)
ON_WM_DESTROY()
END_MESSAGE_MAP()

class FrameworkTest : public ::testing::Test {
  protected:
    StepDisplay* display = nullptr;
    void SetUp() override {
        wce::user::DestroyAllWindows();
        wce::user::ClearQueue();
        auto d = std::make_unique<StepDisplay>();
        display = d.get();
        wce::user::SetDisplay(std::move(d));
        g_events.clear();
    }
    void TearDown() override {
        wce::user::DestroyAllWindows();
        wce::user::ClearQueue();
        wce::user::SetDisplay(nullptr);
    }
};

TEST_F(FrameworkTest, DoModalRunsExchangeInitModalLoopAndDestroyInOrder) {
    TestDlg dlg;
    display->steps = {[] { wce::user::InjectClickControl(11); },
                      [] { wce::user::InjectCaptionOk(); }};
    EXPECT_EQ(dlg.DoModal(), IDOK);
    const std::vector<std::string> expected = {
        "exchange load", "init",          "go",
        "list count 1",  "exchange save", "destroy, list attached yes"};
    EXPECT_EQ(g_events, expected);
    EXPECT_NE(dlg.m_listAtInit, nullptr) << "controls are bound before OnInitDialog's own steps";
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_list.m_hWnd, nullptr) << "a destroyed control leaves its object detached";
    EXPECT_TRUE(wce::user::TopLevelWindows().empty());
}

TEST_F(FrameworkTest, MessageMapsChainToTheBaseClassAndDefaultsEndTheDialog) {
    struct Row {
        const char* what;
        std::function<void()> input;
        LRESULT result;
        std::vector<std::string> events;
    };
    const std::vector<Row> rows = {
        {"derived entry wins", [] { wce::user::InjectClickControl(11); }, IDCANCEL, {"go"}},
        {"base entry found through the chain",
         [] { wce::user::InjectClickControl(12); },
         IDCANCEL,
         {"base handler"}},
        {"Escape is Cancel", [] {}, IDCANCEL, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TestDlg dlg;
        display->next = 0;
        display->steps = {row.input, [] { wce::user::InjectKey(VK_ESCAPE); }};
        EXPECT_EQ(dlg.DoModal(), row.result);
        std::vector<std::string> handlers;
        for (const auto& e : g_events)
            if (e == "go" || e == "base handler") handlers.push_back(e);
        EXPECT_EQ(handlers, row.events);
        g_events.clear();
    }
}

TEST_F(FrameworkTest, DoModalWithoutItsTemplateFails) {
    CDialog dlg(999);
    EXPECT_EQ(dlg.DoModal(), -1);
}

TEST_F(FrameworkTest, WindowObjectsArePermanentOrTemporary) {
    EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
    TestDlg dlg;
    CWnd* tempButton = nullptr;
    CWnd* again = nullptr;
    CWnd* forList = nullptr;
    display->steps = {[&] {
        CWnd* button = dlg.GetDlgItem(11);
        tempButton = button;
        again = CWnd::FromHandle(button->m_hWnd);
        forList = dlg.GetDlgItem(10);
        CString text;
        button->GetWindowText(text);
        EXPECT_EQ(std::u16string(text), u"Go");
        EXPECT_EQ(CWnd::FromHandle(::GetWindow(dlg.m_hWnd, GW_CHILD)), forList);
        wce::user::InjectCaptionOk();
    }};
    dlg.DoModal();
    EXPECT_EQ(tempButton, again) << "one temporary object per window until idle time";
    EXPECT_EQ(forList, &dlg.m_list) << "a bound control answers with its own object";
}

TEST_F(FrameworkTest, StringBuffersAndApplicationTitle) {
    CString s;
    EXPECT_TRUE(s.IsEmpty());
    LPWSTR buf = s.GetBuffer(10);
    buf[0] = u'a';
    buf[1] = u'b';
    buf[2] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 2);
    s.GetBuffer(4)[1] = u'z';
    s.ReleaseBuffer(1);
    EXPECT_EQ(std::u16string(s), u"a");
    EXPECT_EQ(AfxGetApp(), &g_app);
    EXPECT_EQ(std::u16string(AfxGetAppName()), u"SETUP");
}

TEST_F(FrameworkTest, FileObjectReadsThroughTheDevice) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("fw_file_" + std::to_string(getpid()));
    fs::create_directories(dir / "root");
    fs::create_directories(dir / "medium");
    std::ofstream(dir / "medium" / "DATA.INI", std::ios::binary) << "0123456789";
    wce::kernel::DeviceConfig config;
    config.hostRoot = (dir / "root").string();
    config.hostMedium = (dir / "medium").string();
    wce::kernel::ConfigureDevice(config);
    {
        CFile file;
        EXPECT_FALSE(file.Open(u"\\Storage Card\\MISSING.INI", CFile::modeRead));
        ASSERT_TRUE(file.Open(u"\\Storage Card\\data.ini", CFile::modeRead | CFile::shareDenyNone));
        EXPECT_EQ(file.GetLength(), 10u);
        EXPECT_EQ(file.Seek(6, CFile::begin), 6);
        char buf[8] = {};
        EXPECT_EQ(file.Read(buf, sizeof buf), 4u) << "a short read at the end";
        EXPECT_EQ(std::string(buf, 4), "6789");
        EXPECT_EQ(file.Read(buf, sizeof buf), 0u);
    }
    fs::remove_all(dir);
}

}  // namespace
