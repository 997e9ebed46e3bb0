// Bounds how often a display presents while the program works, by a monotonic clock read at
// every poll and repaint (a vDSO read, nanoseconds), so pacing follows time, not call counts.
#pragma once

#include <chrono>

namespace wce::display {

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacer(Clock::duration interval = std::chrono::milliseconds(33))
        : interval_(interval) {}

    // At a poll: true when a frame is due. The frame stays open until the next poll, so the
    // immediate repaints of one step (a file's name, then its counter) reach the screen together.
    bool Poll(Clock::time_point now) {
        joined_ = 0;
        open_ = Due(now);
        return open_;
    }
    // At an immediate repaint: true when it should be presented now.
    bool Repainted(Clock::time_point now) {
        // A loop of repaints without polls must not present at every one of them.
        if (open_ && joined_ < kMaxJoined) {
            ++joined_;
            return true;
        }
        joined_ = 0;
        open_ = Due(now);
        return open_;
    }
    // A frame presented outside the pacing (a forced flush) still counts against the rate.
    void Presented(Clock::time_point now) {
        started_ = true;
        last_ = now;
    }
    void SetInterval(Clock::duration interval) { interval_ = interval; }

private:
    static constexpr unsigned kMaxJoined = 4;

    bool Due(Clock::time_point now) {
        if (started_ && now - last_ < interval_) return false;
        Presented(now);
        return true;
    }

    Clock::duration interval_;
    bool started_ = false;
    bool open_ = false;
    unsigned joined_ = 0;
    Clock::time_point last_{};
};

}  // namespace wce::display
