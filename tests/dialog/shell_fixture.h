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

namespace shell_test {

namespace fs = std::filesystem;

// A fresh device root and medium folder, mapped as the device namespace for the test's life.
class ScratchDevice {
public:
    explicit ScratchDevice(wce::kernel::DeviceConfig config = {})
    {
        std::string tmpl = (fs::temp_directory_path() / "shell-test.XXXXXX").string();
        base_ = mkdtemp(tmpl.data());
        fs::create_directories(base_ / "device/ROMDisk/PROGRAM/TAV");
        fs::create_directories(base_ / "device/ROMDisk2/PROGRAM/SETAPP");
        fs::create_directories(base_ / "medium");
        config.hostRoot = (base_ / "device").string();
        config.hostMedium = (base_ / "medium").string();
        wce::kernel::ConfigureDevice(config);
    }
    ~ScratchDevice() { fs::remove_all(base_); }
    ScratchDevice(const ScratchDevice&) = delete;
    ScratchDevice& operator=(const ScratchDevice&) = delete;

    fs::path Medium() const { return base_ / "medium"; }
    void WriteCatalogue(std::string_view bytes) const
    {
        std::ofstream(Medium() / "SETUP.INI", std::ios::binary).write(bytes.data(),
                                                                      static_cast<std::streamsize>(bytes.size()));
    }

private:
    fs::path base_;
};

// Answers every message box with OK; when only the dialog waits, lets the test look (once)
// and then presses the caption OK, as an absent user would.
class ProbeDisplay : public wce::user::Display {
public:
    explicit ProbeDisplay(std::function<void()> onIdle) : onIdle_(std::move(onIdle)) {}
    void WaitForInput() override
    {
        if (wce::user::InjectMessageBoxOk())
            return;
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

inline void UseProbeDisplay(std::function<void()> onIdle = nullptr)
{
    wce::user::SetDisplay(std::make_unique<ProbeDisplay>(std::move(onIdle)));
}

}  // namespace shell_test
