// Bounds how often the real terminal is written while the program works, at almost no cost to
// the program: the clock is read only on every n-th call.
#pragma once

#include <chrono>

namespace wce::terminal {

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacer(Clock::duration interval = std::chrono::milliseconds(33),
                        unsigned checkEvery = 16)
        : interval_(interval), checkEvery_(checkEvery == 0 ? 1 : checkEvery) {}

    // Counts a call; true on every n-th one, when the caller should read the clock.
    bool CountCall() { return ++calls_ % checkEvery_ == 0; }
    // True when a frame interval has passed since the last frame; that frame time is recorded.
    bool Due(Clock::time_point now) {
        if (started_ && now - last_ < interval_) return false;
        started_ = true;
        last_ = now;
        return true;
    }

private:
    Clock::duration interval_;
    unsigned checkEvery_;
    unsigned calls_ = 0;
    bool started_ = false;
    Clock::time_point last_{};
};

}  // namespace wce::terminal
