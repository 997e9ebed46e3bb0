// Cost of one full-screen repaint: the installer's dialog with a message box over it.
#include <benchmark/benchmark.h>

#include "platform/render/renderer.h"

namespace {

using namespace wce::render;
using wce::user::WindowKind;
using wce::user::WindowView;

WindowView View(WindowKind kind, RECT rect, std::u16string text, DWORD style = 0) {
    WindowView v{};
    v.kind = kind;
    v.style = WS_VISIBLE | style;
    v.rect = rect;
    v.client = (style & WS_BORDER) ? Inset(rect, 1) : rect;
    v.text = std::move(text);
    v.visible = v.enabled = true;
    return v;
}

std::vector<WindowView> Screen() {
    WindowView d = View(WindowKind::Dialog, {0, 0, 320, 240}, u"Installation of Language Files");
    d.client = {2, 22, 318, 238};
    d.hasCaptionOk = true;
    d.captionOk = {290, 4, 314, 20};
    WindowView list = View(WindowKind::ListBox, {3, 23, 317, 158}, {}, WS_BORDER | WS_VSCROLL);
    for (int i = 0; i < 20; ++i)
        list.items.push_back(u"Language package 日本語 " +
                             std::u16string(1, static_cast<char16_t>(u'A' + i)));
    list.curSel = 3;
    list.itemHeight = 16;
    d.children.push_back(list);
    d.children.push_back(View(WindowKind::Static, {7, 161, 75, 176}, u"Copying..."));
    d.children.push_back(View(WindowKind::Static, {79, 161, 151, 176}, u"12345 / 99999"));
    d.children.push_back(
        View(WindowKind::Static, {79, 184, 313, 199}, u"\\ROMDisk\\PROGRAM\\TAV\\file.dat"));
    d.children.push_back(View(WindowKind::Static, {243, 213, 313, 228}, u"1.02", SS_RIGHT));
    d.children.push_back(View(WindowKind::Button, {119, 206, 199, 232}, u"Install"));
    WindowView box = View(WindowKind::MessageBox, {40, 70, 280, 170}, u"SETUP");
    box.client = {42, 92, 278, 168};
    box.infoIcon = true;
    box.children.push_back(
        View(WindowKind::Static, {90, 100, 270, 130}, u"Installation has been completed."));
    box.children.push_back(View(WindowKind::Button, {130, 138, 190, 162}, u"OK"));
    return {d, box};
}

void BM_FullScreenRepaint(benchmark::State& state) {
    const std::vector<WindowView> screen = Screen();
    const RenderOptions options{DialogFont(8, 15), nullptr};
    if (!options.font) return state.SkipWithError("the dialog font is missing");
    Image image;
    RenderScreen(screen, options, image);  // fills the glyph cache, as the first frame does
    for (auto _ : state) {
        RenderScreen(screen, options, image);
        benchmark::DoNotOptimize(image.Pixels().data());
    }
}
BENCHMARK(BM_FullScreenRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
