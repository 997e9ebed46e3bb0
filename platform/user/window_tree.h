// Internal state of the window system, shared by its source files and the framework.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/user/dialogs.h"
#include "platform/user/display.h"
#include "platform/user/winuser.h"

struct IconObject {
    const IconResource* resource;
};

struct WindowObject {
    wce::user::WindowKind kind = wce::user::WindowKind::Static;
    HWND parent = nullptr;       // nullptr for a top-level window
    HWND owner = nullptr;        // top-level windows only
    std::vector<HWND> children;  // sibling order
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT rect{};  // outer rectangle, parent's client coordinates (screen for top-level)
    std::u16string text;
    WNDPROC proc = nullptr;
    void* userData = nullptr;
    bool needsPaint = false;
    bool pressed = false;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    bool infoIcon = false;
    // List boxes.
    std::vector<std::u16string> items;
    int curSel = -1;
    int topIndex = 0;
    // Dialogs and message boxes.
    LRESULT (*dlgProc)(HWND, UINT, WPARAM, LPARAM) = nullptr;
    bool ended = false;
    LRESULT result = 0;
    HWND savedFocus = nullptr;  // focus before this modal window took it
};

namespace wce::user {

// Frame sizes of the platform's windows, in pixels.
inline constexpr int kCaptionHeight = 20;
inline constexpr int kFrameWidth = 2;
inline constexpr int kBorderWidth = 1;
inline constexpr int kCaptionOkWidth = 24;

// Input messages that come from the (emulated) device rather than from the program.
inline constexpr UINT WM_CAPTIONOK = 0x00A2;             // the caption OK button was pressed
inline constexpr UINT WM_SELECTITEM = WM_USER + 0x7F00;  // the script clicks list entry wParam
inline constexpr LPARAM kShiftDown = LPARAM{1} << 28;    // in a WM_KEYDOWN's lParam
bool IsInputMessage(UINT message);

// The font the dialog units are measured with.
struct FontMetrics {
    int avgWidth = 7;
    int height = 15;
};

// Window registry.
HWND CreateWindowObject(WindowKind kind, HWND parent, DWORD style, DWORD exStyle, int id,
                        const RECT& rect, std::u16string text, WNDPROC proc);
// A handle the tree holds itself (a parent, a child, a top-level window) names a live window:
// children are freed before their parent and leave its list when destroyed alone. Only a
// handle from a caller needs Lookup; the ones reached from it are dereferenced as they are.
WindowObject* Lookup(HWND hWnd);             // nullptr for a window that does not exist
const std::vector<HWND>& TopLevelWindows();  // bottom of the stacking order first
void DestroyAllWindows();                    // test fixtures start from an empty screen
bool IsEnabledChain(HWND hWnd);              // it and every ancestor enabled
bool IsVisibleChain(HWND hWnd);
bool IsVisibleChain(const WindowObject& w);  // for a window already looked up
HWND TopLevelOf(HWND hWnd);
bool IsDescendant(HWND ancestor, HWND hWnd);  // true for hWnd == ancestor
void Invalidate(HWND hWnd);
void SetActive(HWND hWnd);
RECT ScreenRectOf(HWND hWnd);
RECT ClientScreenRectOf(HWND hWnd);
RECT CaptionOkRect(HWND hWnd);  // screen coordinates; empty without a caption OK button

// Hooks the framework uses to drop its objects for destroyed windows and to clean up when idle.
using WindowHook = void (*)(HWND);
void SetDestroyHook(WindowHook hook);
using IdleHook = void (*)();
void SetIdleHook(IdleHook hook);
void RunIdleHook();

// Message queue internals.
void PostFront(const MSG& msg);
void PurgeMessagesFor(HWND hWnd);
void ClearQueue();  // test fixtures start from an empty queue

// Metrics.
FontMetrics DialogFont();
int LogPixelsY();
LONG DialogUnitsToPixelsX(LONG x);
LONG DialogUnitsToPixelsY(LONG y);

// Controls and dialogs.
LRESULT ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ButtonProc(HWND, UINT, WPARAM, LPARAM);
int ListVisibleRows(const WindowObject& w);
int ListItemHeight();
void ClickButton(HWND hButton);  // sends BN_CLICKED to its parent
std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);

}  // namespace wce::user
