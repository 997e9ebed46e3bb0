// Bounds how often a display presents while the program works, by a monotonic clock read at
// every poll and repaint (a vDSO read, nanoseconds), so pacing follows time, not call counts.
#pragma once

#include <algorithm>
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
    // Every frame presented, paced or forced, is charged here.
    void Presented(Clock::time_point now) { next_ = std::max(next_, now) + interval_; }
    void SetInterval(Clock::duration interval) { interval_ = interval; }

  private:
    static constexpr unsigned kMaxJoined = 4;
    // Frames are spent at the frame rate on average, a few at once after a quiet spell, so work
    // that starts right after a frame (a click, then a slow first file) still shows its first step.
    static constexpr int kBurst = 3;

    bool Due(Clock::time_point now) const { return now + interval_ * (kBurst - 1) >= next_; }

    Clock::duration interval_;
    Clock::time_point next_{};
    bool open_ = false;
    unsigned joined_ = 0;
};

}  // namespace wce::display
