// Displays: they turn a person's (or a script's) actions into input and draw the window tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/user/dialogs.h"
#include "platform/user/winuser.h"

namespace wce::user {

class Display {
  public:
    virtual ~Display() = default;
    // The program waits for input and its queue is empty: block until at least one action has
    // been delivered (through the Inject* calls below). Show the final state first.
    virtual void WaitForInput() = 0;
    // Called from PeekMessage during long work, when nothing matched: gather pending input
    // without waiting and present a frame if one is due. Must be cheap.
    virtual void Poll() {}
    // The emulated screen changed (a window was repainted, moved, shown or hidden).
    virtual void ScreenChanged() {}
    // A window was repainted at once (UpdateWindow): present it now if a frame is due.
    virtual void Repainted() {}
    // The program is about to block for long (GdiFlush): present the emulated screen now.
    virtual void Flush() {}
    // True when standard output is the terminal this display draws on.
    virtual bool OwnsStdout() const { return false; }
    // Restore the host terminal / window before the process ends; safe to call twice.
    virtual void Shutdown() {}
};

void SetDisplay(std::unique_ptr<Display> display);
Display& CurrentDisplay();

// What a display sees of a window.
enum class WindowKind { Dialog, MessageBox, ListBox, Static, Button };
struct WindowView {
    HWND hwnd;
    WindowKind kind;
    int id;
    DWORD style;
    DWORD exStyle;
    RECT rect;    // outer rectangle, screen coordinates
    RECT client;  // client rectangle, screen coordinates
    std::u16string text;
    bool visible;  // its own visibility flag
    bool enabled;  // its own enabled flag
    bool focused;
    bool pressed;  // a push button held down
    // List boxes.
    std::vector<std::u16string> items;
    int curSel = -1;
    int topIndex = 0;
    int itemHeight = 0;
    // Dialogs and message boxes.
    bool hasCaptionOk = false;
    RECT captionOk{};  // the caption OK button, screen coordinates
    HICON smallIcon = nullptr;
    bool infoIcon = false;
    std::vector<WindowView> children;  // in sibling order
};

// Visible top-level windows, bottom of the stacking order first.
std::vector<WindowView> SnapshotScreen();

// Input as the device's input would deliver it; every call posts messages and returns at once.
// A disabled window (or one under a disabled ancestor) ignores it.
void InjectKey(WPARAM vk, bool shift = false);
void InjectClick(POINT screenPoint);
// Script actions; false when there is nothing to act on (no such control, no message box).
bool InjectClickControl(int id);
bool InjectSelectListItem(int index);
bool InjectMessageBoxOk();
bool InjectCaptionOk();

// The screen state as the automation's "dump" action prints it.
std::string DumpScreen();

// True while the thread's queue holds a message (a display's wait can end).
bool HasQueuedMessages();
// The image of an icon closest to size x size pixels; nullptr for no icon.
const IconImage* IconImageOf(HICON hIcon, int size);

}  // namespace wce::user
