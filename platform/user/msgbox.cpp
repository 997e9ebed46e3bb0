// Message boxes: a modal top-level window centred on the screen, with a line on stdout.
#include <algorithm>
#include <cstdio>

#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

inline constexpr int kMargin = 8;
inline constexpr int kIconSize = 32;
inline constexpr int kButtonWidth = 50;
inline constexpr int kButtonHeight = 22;
inline constexpr int kTextId = 0xFFFF;

// Word wrap at maxChars; a word longer than a line is cut.
std::vector<std::u16string> Wrap(const std::u16string& text, size_t maxChars) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        std::u16string para =
            text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        while (para.size() > maxChars) {
            size_t cut = para.rfind(u' ', maxChars);
            if (cut == std::u16string::npos || cut == 0) cut = maxChars;
            const bool atSpace = para[cut] == u' ';
            lines.push_back(para.substr(0, cut));
            para.erase(0, atSpace ? cut + 1 : cut);
        }
        lines.push_back(para);
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
    return lines;
}

LRESULT MessageBoxProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hWnd, IDOK);
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

HWND CreateMessageBox(const std::u16string& text, const std::u16string& caption, bool info) {
    const FontMetrics f = DialogFont();
    const int iconSpace = info ? kIconSize + kMargin : 0;
    const int maxClient = SCREEN_WIDTH - 2 * kFrameWidth;
    const int maxText = maxClient - 2 * kMargin - iconSpace;
    const auto lines = Wrap(text, static_cast<size_t>(std::max(1, maxText / f.avgWidth)));
    size_t longest = 0;
    for (const auto& l : lines) longest = std::max(longest, l.size());
    const int textW = std::min(maxText, static_cast<int>(longest) * f.avgWidth);
    const int bodyH = std::max(static_cast<int>(lines.size()) * f.height, info ? kIconSize : 0);
    const int captionW = static_cast<int>(caption.size()) * f.avgWidth + kCaptionOkWidth;
    const int clientW =
        std::min(maxClient,
                 std::max({2 * kMargin + iconSpace + textW, kButtonWidth + 2 * kMargin, captionW}));
    const int clientH = std::min(SCREEN_HEIGHT - 2 * kFrameWidth - kCaptionHeight,
                                 3 * kMargin + bodyH + kButtonHeight);
    const int outerW = clientW + 2 * kFrameWidth,
              outerH = clientH + 2 * kFrameWidth + kCaptionHeight;
    const int left = (SCREEN_WIDTH - outerW) / 2, top = (SCREEN_HEIGHT - outerH) / 2;
    HWND box =
        CreateWindowObject(WindowKind::MessageBox, nullptr, WS_POPUP | WS_CAPTION | WS_VISIBLE, 0,
                           0, {left, top, left + outerW, top + outerH}, caption, MessageBoxProc);
    Lookup(box)->infoIcon = info;
    const int textTop = kMargin,
              textBottom = std::min(clientH - 2 * kMargin - kButtonHeight, kMargin + bodyH);
    CreateWindowObject(WindowKind::Static, box, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, kTextId,
                       {kMargin + iconSpace, textTop, kMargin + iconSpace + textW, textBottom},
                       text, StaticProc);
    const int bx = (clientW - kButtonWidth) / 2, by = clientH - kMargin - kButtonHeight;
    CreateWindowObject(WindowKind::Button, box,
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK,
                       {bx, by, bx + kButtonWidth, by + kButtonHeight}, u"OK", ButtonProc);
    return box;
}

// An application-wide box holds every other window of the program while it shows.
std::vector<HWND> DisableOthers(HWND box) {
    std::vector<HWND> disabled;
    for (HWND h : TopLevelWindows())
        if (h != box && IsWindowEnabled(h)) disabled.push_back(h);
    for (HWND h : disabled) EnableWindow(h, FALSE);
    return disabled;
}

}  // namespace
}  // namespace wce::user

using namespace wce::user;

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    const std::u16string text = lpText ? lpText : u"";
    const std::u16string caption = lpCaption ? lpCaption : u"Error";
    if (!CurrentDisplay().OwnsStdout()) {
        std::printf("message: %s: %s\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str());
        std::fflush(stdout);
    }
    const HWND prevFocus = GetFocus();
    const HWND prevActive = GetActiveWindow();
    HWND box = CreateMessageBox(text, caption, (uType & 0xF0) == MB_ICONINFORMATION);
    const HWND owner = TopLevelOf(hWnd);
    Lookup(box)->owner = owner;
    const auto disabled = owner ? std::vector<HWND>{} : DisableOthers(box);
    SetActive(box);
    SetFocus(GetDlgItem(box, IDOK));
    const LRESULT r = RunModalLoop(box);
    DestroyWindow(box);
    for (HWND h : disabled)
        if (IsWindow(h)) EnableWindow(h, TRUE);
    if (IsWindow(prevActive)) SetActive(prevActive);
    SetFocus(IsWindow(prevFocus) ? prevFocus : nullptr);
    return r > 0 ? static_cast<int>(r) : 0;
}
