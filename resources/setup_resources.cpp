// Dialog template 102, group icon 128 and the version record of the installer.
#include <array>

#include "platform/user/dialogs.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kStatic = WS_CHILD | WS_VISIBLE | WS_GROUP;

// Template order is sibling order and tab order; the layout and dump rely on it.
constexpr DialogItemTemplate kSetupItems[] = {
    {WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | WS_TABSTOP | LBS_NOINTEGRALHEIGHT, 0, 0, 0,
     156, 72, IDC_PRODUCT_LIST, u"LISTBOX", nullptr},
    {kStatic | SS_LEFT, 0, 2, 74, 34, 10, IDC_COPYING_LABEL, u"STATIC", u"Copying..."},
    // Non-empty so that the layout's minimum text height applies to it.
    {kStatic | SS_LEFT, 0, 38, 86, 118, 10, IDC_FILE_NAME, u"STATIC", u"LANGUAGE.DAT"},
    {kStatic | SS_LEFT, 0, 38, 74, 36, 10, IDC_PROGRESS, u"STATIC", u"5 / 20"},
    {kStatic | SS_LEFT, 0, 2, 86, 36, 10, IDC_FILE_NAME_LABEL, u"STATIC", u"File Name:"},
    {kStatic | SS_RIGHT, 0, 120, 102, 35, 10, IDC_VERSION, u"STATIC", u"\u00D7.\u00D7\u00D7"},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 58, 98, 40, 14, IDC_INSTALL, u"BUTTON",
     u"Install"},
};

constexpr DialogTemplate kSetupDialog = {
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW,
    0,
    0,
    158,
    114,
    u"Installation of Language Files",
    11,
    u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF",
    0x0411,
    kSetupItems,
};

// The standard 16-colour palette.
constexpr DWORD kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
enum : BYTE { kBlack = 0, kDarkGreen = 2, kOlive = 3, kGreen = 10, kYellow = 11 };

template <int N>
struct IconPicture {
    std::array<BYTE, N * N> pixels{};
    std::array<BYTE, N * N> mask{};

    constexpr void Put(int x, int y, BYTE colour) {
        pixels[static_cast<std::size_t>(y * N + x)] = colour;
        mask[static_cast<std::size_t>(y * N + x)] = 0;
    }
    // A filled box with an outline, both ends inclusive.
    constexpr void Box(int x0, int y0, int x1, int y1, BYTE fill, BYTE edge) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Put(x, y, (y == y0 || y == y1 || x == x0 || x == x1) ? edge : fill);
    }
};

// A folder with a green arrow pointing into it, drawn in proportion to the image size.
template <int N>
constexpr IconPicture<N> DrawFolderWithArrow() {
    IconPicture<N> pic;
    pic.mask.fill(1);
    constexpr int u = N / 16;
    pic.Box(1 * u, 4 * u, 7 * u, 6 * u, kYellow, kOlive);
    pic.Box(1 * u, 6 * u, 15 * u - 1, 14 * u, kYellow, kOlive);
    for (int y = 0; y < 8 * u; ++y)
        for (int x = 7 * u; x < 9 * u; ++x) pic.Put(x, y, x == 7 * u ? kDarkGreen : kGreen);
    for (int i = 0; i < 4 * u; ++i)
        for (int x = 4 * u + i; x < 12 * u - i; ++x)
            pic.Put(x, 8 * u + i, (x == 4 * u + i || x == 12 * u - i - 1) ? kBlack : kGreen);
    return pic;
}

constexpr auto kLargePicture = DrawFolderWithArrow<32>();
constexpr auto kSmallPicture = DrawFolderWithArrow<16>();

constexpr IconImage kSetupIconImages[] = {
    {32, 32, kLargePicture.pixels.data(), kPalette, kLargePicture.mask.data()},
    {16, 16, kSmallPicture.pixels.data(), kPalette, kSmallPicture.mask.data()},
};

constexpr DialogResource kDialogs[] = {{IDD_SETUP, &kSetupDialog}};
constexpr IconResource kIcons[] = {{IDI_SETUP, kSetupIconImages}};

constexpr VersionRecord kVersion = {{1, 0, 2, 0}, u"Ver 1.02", u"SETUP.exe", u"041104b0"};

}  // namespace

namespace wce {
extern const ModuleResources g_moduleResources = {kDialogs, kIcons, &kVersion};
}  // namespace wce
