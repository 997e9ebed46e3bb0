// Dialog units, the device profile, device contexts and deferred window positioning.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <list>

#include "platform/user/device_profile.h"
#include "platform/user/window_tree.h"

struct DeviceContext {
    HWND hwnd;
};
struct DeferBatch {
    struct Entry {
        HWND hwnd;
        HWND after;
        int x, y, cx, cy;
        UINT flags;
    };
    std::vector<Entry> entries;
};

namespace wce::user {
namespace {

// The device's dialog font at 96 dpi: the font whose metrics make the layout's fixed rates.
constexpr FontMetrics kDeviceFont{8, 15};
constexpr int kDeviceDpi = 96;

struct Profile {
    FontMetrics font;
    bool fontFromEnvironment = false;
    int dpi = 96;
};

Profile& TheProfile() {
    static Profile profile;
    return profile;
}

// Whole-number scaling rounded half away from zero, as the device's MulDiv does.
LONG MulDivRound(LONG value, int mul, int div) {
    const long long n = static_cast<long long>(value) * mul;
    long long q = n / div;
    const long long r = n % div;
    if (2 * (r < 0 ? -r : r) >= div) q += (n < 0 ? -1 : 1);
    return static_cast<LONG>(q);
}

std::optional<int> ParseBoundedInt(std::string_view text, int lo, int hi) {
    int value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

[[noreturn]] void BadSetting(const char* name, const char* value, const char* expected) {
    std::fprintf(stderr, "%s=\"%s\" is not valid: expected %s\n", name, value, expected);
    std::exit(2);
}

std::list<DeferBatch>& Batches() {
    static std::list<DeferBatch> batches;
    return batches;
}

}  // namespace

std::optional<FontSetting> ParseFontSetting(std::string_view text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    auto w = ParseBoundedInt(text.substr(0, x), 1, 200);
    auto h = ParseBoundedInt(text.substr(x + 1), 1, 200);
    if (!w || !h) return std::nullopt;
    return FontSetting{*w, *h};
}

std::optional<int> ParseDpiSetting(std::string_view text) {
    return ParseBoundedInt(text, 1, 2400);
}

FontSetting DeviceFontAt(int dpi) {
    auto scaled = [dpi](int pixels) {
        return std::max(1, static_cast<int>(MulDivRound(pixels, dpi, kDeviceDpi)));
    };
    return {scaled(kDeviceFont.avgWidth), scaled(kDeviceFont.height)};
}

void SetDialogFontMetrics(int avgWidth, int height) {
    if (TheProfile().fontFromEnvironment || avgWidth <= 0 || height <= 0) return;
    TheProfile().font = {avgWidth, height};
}

bool DialogFontFixedByEnvironment() {
    return TheProfile().fontFromEnvironment;
}
void SetLogPixelsY(int dpi) {
    TheProfile().dpi = dpi;
}

void ConfigureProfileFromEnvironment() {
    if (const char* v = std::getenv("WCE_FONT")) {
        auto font = ParseFontSetting(v);
        if (!font) BadSetting("WCE_FONT", v, "WIDTHxHEIGHT in pixels, e.g. 8x15");
        TheProfile().font = {font->avgWidth, font->height};
        TheProfile().fontFromEnvironment = true;
    }
    if (const char* v = std::getenv("WCE_DPI")) {
        auto dpi = ParseDpiSetting(v);
        if (!dpi) BadSetting("WCE_DPI", v, "a whole number of dots per inch from 1 to 2400");
        TheProfile().dpi = *dpi;
    }
    const FontSetting device = DeviceFontAt(TheProfile().dpi);
    if (!TheProfile().fontFromEnvironment) TheProfile().font = {device.avgWidth, device.height};
}

FontMetrics DialogFont() {
    return TheProfile().font;
}
int LogPixelsY() {
    return TheProfile().dpi;
}
LONG DialogUnitsToPixelsX(LONG x) {
    return MulDivRound(x, TheProfile().font.avgWidth, 4);
}
LONG DialogUnitsToPixelsY(LONG y) {
    return MulDivRound(y, TheProfile().font.height, 8);
}

}  // namespace wce::user

using namespace wce::user;

BOOL MapDialogRect(HWND hDlg, RECT* r) {
    if (!Lookup(hDlg) || !r) return FALSE;
    *r = {DialogUnitsToPixelsX(r->left), DialogUnitsToPixelsY(r->top),
          DialogUnitsToPixelsX(r->right), DialogUnitsToPixelsY(r->bottom)};
    return TRUE;
}

HDC GetDC(HWND hWnd) {
    static DeviceContext screen{nullptr};
    if (hWnd && !Lookup(hWnd)) return nullptr;
    return &screen;
}

int ReleaseDC(HWND, HDC hDC) {
    return hDC ? 1 : 0;
}

int GetDeviceCaps(HDC hdc, int index) {
    if (!hdc) return 0;
    return index == LOGPIXELSY ? LogPixelsY() : 0;
}

HDWP BeginDeferWindowPos(int nNumWindows) {
    if (nNumWindows < 0) return nullptr;
    auto& batch = Batches().emplace_back();
    batch.entries.reserve(static_cast<size_t>(nNumWindows));
    return &batch;
}

namespace {
void FreeBatch(HDWP batch) {
    Batches().remove_if([batch](const DeferBatch& b) { return &b == batch; });
}
}  // namespace

HDWP DeferWindowPos(HDWP hWinPosInfo, HWND hWnd, HWND hWndInsertAfter, int x, int y, int cx, int cy,
                    UINT uFlags) {
    if (!hWinPosInfo) return nullptr;
    if (!Lookup(hWnd)) {
        FreeBatch(hWinPosInfo);  // as the device does: a failed entry ends the batch
        return nullptr;
    }
    hWinPosInfo->entries.push_back({hWnd, hWndInsertAfter, x, y, cx, cy, uFlags});
    return hWinPosInfo;
}

BOOL EndDeferWindowPos(HDWP hWinPosInfo) {
    if (!hWinPosInfo) return FALSE;
    const auto entries = std::move(hWinPosInfo->entries);
    FreeBatch(hWinPosInfo);
    BOOL ok = TRUE;
    for (const auto& e : entries)
        if (!SetWindowPos(e.hwnd, e.after, e.x, e.y, e.cx, e.cy, e.flags)) ok = FALSE;
    return ok;
}
