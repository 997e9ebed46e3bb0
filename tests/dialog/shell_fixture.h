// Shared by the installer's in-process tests: a scratch device and medium, and a display that
// plays an absent user while letting the test look at the dialog whenever it waits.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/kernel/device.h"
#include "platform/user/display.h"
#include "tests/support/scratch_device.h"

namespace shell_test {

namespace fs = std::filesystem;

// A fresh device, with the program folders a fresh one has, mapped for the test's life.
class ScratchDevice : public wce::test::ScratchDevice {
  public:
    explicit ScratchDevice(wce::kernel::DeviceConfig config = {}) {
        fs::create_directories(root() + "/ROMDisk/PROGRAM/TAV");
        fs::create_directories(root() + "/ROMDisk2/PROGRAM/SETAPP");
        config.hostRoot = root();
        config.hostMedium = medium();
        wce::kernel::ConfigureDevice(config);
    }

    fs::path Medium() const { return medium(); }
    void WriteCatalogue(std::string_view bytes) const {
        wce::test::WriteFile(Medium() / "SETUP.INI", std::string(bytes));
    }
};

// Answers every message box with OK; when only the dialog waits, lets the test look (once)
// and then presses the caption OK, as an absent user would.
class ProbeDisplay : public wce::user::Display {
  public:
    explicit ProbeDisplay(std::function<void()> onIdle) : onIdle_(std::move(onIdle)) {}
    void WaitForInput() override {
        if (wce::user::InjectMessageBoxOk()) return;
        if (onIdle_) {
            auto look = std::move(onIdle_);
            onIdle_ = nullptr;
            look();
        }
        wce::user::InjectCaptionOk();
    }

  private:
    std::function<void()> onIdle_;
};

inline void UseProbeDisplay(std::function<void()> onIdle = nullptr) {
    wce::user::SetDisplay(std::make_unique<ProbeDisplay>(std::move(onIdle)));
}

}  // namespace shell_test
