// Dialog templates, the module's resources, and dialog windows made from them.
#pragma once

#include <span>

#include "platform/user/winuser.h"

struct DialogItemTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;  // dialog units
    WORD id;
    LPCWSTR className;  // u"LISTBOX", u"STATIC" or u"BUTTON"
    LPCWSTR text;       // nullptr for none
};

struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;  // dialog units
    LPCWSTR title;
    WORD pointSize;
    LPCWSTR fontName;
    WORD language;
    std::span<const DialogItemTemplate> items;
};

// One image of a group icon: 4-bit palette indices, one byte a pixel, row by row, top first.
struct IconImage {
    int width, height;
    const BYTE* pixels;
    const DWORD* palette;  // 16 entries, 0x00RRGGBB
    const BYTE* mask;      // one byte a pixel, 1 = transparent; nullptr for opaque
};

struct VersionRecord {
    WORD fileVersion[4];
    LPCWSTR productVersion;
    LPCWSTR originalFilename;
    LPCWSTR stringBlock;
};

struct DialogResource {
    UINT id;
    const DialogTemplate* tmpl;
};
struct IconResource {
    UINT id;
    std::span<const IconImage> images;
};

struct ModuleResources {
    std::span<const DialogResource> dialogs;
    std::span<const IconResource> icons;
    const VersionRecord* version;
};

// The program's resources, linked into the module (defined by the program, as a resource
// section is).
namespace wce {
extern const ModuleResources g_moduleResources;
}

const DialogTemplate* FindDialogTemplate(UINT id);

using DLGPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// Creates the dialog window and its controls from a template; converts dialog units through the
// template font's metrics (WCE_FONT). Sends WM_INITDIALOG.
HWND CreateDialogIndirectParamW(HINSTANCE hInstance, const DialogTemplate* lpTemplate,
                                HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam);
// Marks a dialog ended with a result; its modal loop returns it.
BOOL EndDialog(HWND hDlg, LRESULT nResult);
// Runs hDlg modally (owner disabled meanwhile) until EndDialog; returns the result.
LRESULT RunModalLoop(HWND hDlg);
// Keyboard navigation of a dialog: Tab / Shift-Tab, Enter, Escape, Space, arrows.
BOOL IsDialogMessageW(HWND hDlg, MSG* lpMsg);
void SetWindowUserData(HWND hWnd, void* data);
void* GetWindowUserData(HWND hWnd);
