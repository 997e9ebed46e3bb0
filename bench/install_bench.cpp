// Drives the count and the copy over host folders for bench/run.sh:
//   install_bench count DIR        prints the number of visible files below DIR
//   install_bench copy SRC DST     copies the tree SRC onto the existing folder DST
// Host folders are seen through a device whose root is the host's "/".
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/display/displays.h"
#include "platform/kernel/device.h"
#include "tests/install/dialog_host.h"

namespace {

std::u16string DevicePath(const char* hostDir) {
    std::u16string path;
    for (const char* p = hostDir; *p; ++p) path += *p == '/' ? u'\\' : static_cast<char16_t>(*p);
    if (path.empty() || path.back() != u'\\') path += u'\\';
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "copy") == 0 && argc < 4)) {
        std::fprintf(stderr, "usage: install_bench count DIR | copy SRC DST\n");
        return 2;
    }
    wce::kernel::DeviceConfig config;
    config.hostRoot = "/";
    config.hostMedium = "/";
    wce::kernel::ConfigureDevice(config);
    wce::user::SetDisplay(wce::display::MakeHeadlessDisplay(nullptr));

    const std::u16string src = DevicePath(argv[2]);
    const std::u16string dst = argc > 3 ? DevicePath(argv[3]) : std::u16string();
    const bool bCount = std::strcmp(argv[1], "count") == 0;
    int nResult = 0;
    install_test::RunInDialog([&](install_test::HostedDlg& dlg) {
        if (bCount) {
            nResult = dlg.CountFiles(src.c_str(), FALSE);
        } else {
            ::ShowWindow(dlg.Control(IDC_PROGRESS), SW_SHOW);
            ::ShowWindow(dlg.Control(IDC_FILE_NAME), SW_SHOW);
            dlg.m_nTotalFiles = dlg.m_nCopiedFiles = 0;
            nResult = dlg.CopyTree(src.c_str(), dst.c_str(), FALSE);
        }
    });
    std::printf("%d\n", nResult);
    return bCount || nResult == 1 ? 0 : 1;
}
